#pragma once
// What the simulated receiver took in and did, kept for those who look inside it: the
// events (every frame, text line, record and run of bytes not understood, in arrival
// order, for tests that check exact bytes), the counts of frames received and of bytes
// not understood, and, when the options ask for it, lines describing each step for a
// person to read.
//
// Both are bounded: the events lose their oldest half when they reach their limit, and
// the log keeps no more lines until someone takes them.

#include "sim/Simoptions.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// One thing the receiver took in, in arrival order, for tests that check exact bytes.
struct SimEvent {
    enum Kind {
        Frame,        // a binary frame with a good CRC (all of it, "$" to LF)
        Text,         // a text line ended by CR, the CR included (loader commands too)
        Record,       // a loader record, ";" included
        NotUnderstood // bytes that arrived at a rate other than the receiver's
    };
    Kind kind;
    std::vector<std::uint8_t> bytes; // for NotUnderstood: empty, see count
    bool loader = false;             // taken in by the loader
    bool accepted = true;            // Record: stored and acknowledged
    std::size_t count = 0;           // NotUnderstood: number of bytes
};

// Bytes as hex pairs for a log line, at most `limit` of them and then "...".
std::string SimHexText(const std::uint8_t* data, std::size_t n, std::size_t limit = 48);
// Text for a log line, every byte outside printable ASCII as \xNN.
std::string SimPrintableText(const std::string& text);

class SimJournal {
public:
    // Reads the verbose option as it runs.
    explicit SimJournal(const SimOptions& options) : options_(options) {}
    SimJournal(const SimJournal&) = delete;
    SimJournal& operator=(const SimJournal&) = delete;

    // Something taken in; `loader`: by the loader.
    void Add(SimEvent::Kind kind, const std::uint8_t* data, std::size_t n, bool loader,
             bool accepted);
    // A text line with its CR.
    void AddText(const std::string& text, bool loader);
    // A binary frame with a good CRC, counted.
    void AddFrame(const std::uint8_t* frame, std::size_t n);
    // Bytes that arrived at another rate than the line's `rate`: counted, one event for a
    // run of them.
    void NotUnderstood(std::size_t n, bool loader, std::uint32_t rate);

    const std::vector<SimEvent>& Events() const { return events_; }
    void ClearEvents() { events_.clear(); }
    std::uint64_t FramesReceived() const { return framesReceived_; }
    std::uint64_t BytesNotUnderstood() const { return bytesNotUnderstood_; }

    // A line for the log, kept only when verbose.
    void Log(const std::string& line);
    std::vector<std::string> TakeLog();

private:
    const SimOptions& options_;
    std::vector<SimEvent> events_;
    std::vector<std::string> log_;
    std::uint64_t framesReceived_ = 0;
    std::uint64_t bytesNotUnderstood_ = 0;
};
