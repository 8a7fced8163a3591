#pragma once
// What the simulated receiver sends, before the line takes it: the line's current rate,
// the output buffer, and the replies scheduled for a later moment.
//
// Output waits in a buffer of about a second of the line (two for replies); a message
// that does not fit is dropped whole, as a receiver whose line is too slow drops them, so
// the line never carries half a message and the buffer never grows without bound.
// Scheduled replies (the loader's prompt and acknowledgements, which come after a delay)
// join the buffer when their time has come, in time order.
//
// The noise fault puts random bytes before messages; the random payloads of the
// proprietary messages come from the same generator, seeded by the options, so a seed
// gives the same bytes every time.

#include "sim/Simjournal.h"
#include "sim/Simoptions.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

class SimOutput {
public:
    // Reads the noise option as it runs; says in the journal what it drops.
    SimOutput(const SimOptions& options, SimJournal& journal, std::uint32_t rate);
    SimOutput(const SimOutput&) = delete;
    SimOutput& operator=(const SimOutput&) = delete;

    // The line's rate as it is now; the room in the buffer follows it.
    std::uint32_t Rate() const { return rate_; }
    void SetRate(std::uint32_t rate) { rate_ = rate; }

    // The bytes in line order, for the line to take as fast as its rate allows.
    std::deque<std::uint8_t>& Bytes() { return bytes_; }
    // Bytes every call has put in the buffer so far.
    std::uint64_t Queued() const { return queued_; }

    // A message, whole or not at all; false when it did not fit.
    bool Queue(const std::uint8_t* data, std::size_t n, bool reply);
    // A sentence, after noise when that fault is on.
    void QueueSentence(const std::string& sentence);
    // A binary frame around the payload, after noise when that fault is on.
    bool QueueFrame(std::uint8_t id, const std::uint8_t* payload, std::size_t n, bool reply);
    // A binary frame of n random payload bytes (none of them "$").
    void QueueRandomFrame(std::uint8_t id, std::size_t n);
    // Bytes as they are, whatever the room (tests, the command line's own injections).
    void SendRaw(const std::uint8_t* data, std::size_t n);

    // A reply that joins the buffer at `due`; equal times keep their order.
    void Schedule(SimTime due, std::string bytes);
    // Moves the replies due by `now` into the buffer.
    void SendDue(SimTime now);
    // When the next scheduled reply is due; SimTime::max() when none is.
    SimTime NextDue() const;
    void ClearScheduled() { scheduled_.clear(); }
    // Drops the buffer and the scheduled replies.
    void Clear();

private:
    struct Scheduled {
        SimTime due;
        std::string bytes;
    };

    void QueueNoise();
    std::uint64_t Random();

    const SimOptions& options_;
    SimJournal& journal_;
    std::uint32_t rate_;
    std::uint64_t rng_;
    std::deque<std::uint8_t> bytes_;
    std::vector<Scheduled> scheduled_;
    std::uint64_t queued_ = 0;
};
