#pragma once
// How healthy the link to the receiver is, counted from the one receive path: per
// sentence type ($GP and the three letters) and per binary message id, the count since
// the start and the rate over the last kRateSeconds; lines refused by their checksum;
// lines that were not the receiver's sentences (noise, other talkers); bytes a second;
// the time since the last byte. After a change of navigation rate or of the sentences
// sent, the rates show it within kRateSeconds.
//
// Times are the injectable clock's milliseconds. Memory is fixed (a table of sentence
// types and one of the 256 ids, each with one counter a second over the rate window):
// nothing allocates after construction, so the counts cost next to nothing per byte.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

class LinkStats {
public:
    static constexpr int kRateSeconds = 10;
    // Sentence types kept apart; the rest are counted together as "other".
    static constexpr std::size_t kMaxSentenceTypes = 24;

    // The receive path: every block as read, every frame (its id) and every line (with
    // its CR LF), in the order the bytes arrived.
    void BytesReceived(std::size_t n, std::int64_t nowMs);
    void FrameReceived(std::uint8_t id, std::int64_t nowMs);
    void LineReceived(const std::uint8_t* line, std::size_t length, std::int64_t nowMs);

    struct Entry {
        std::string name;        // "GGA", ..., or "ID 16"
        std::uint64_t count = 0; // since the start
        double rate = 0.0;       // a second, over the last kRateSeconds
    };
    // In order of first arrival; allocates (for showing, not for counting).
    std::vector<Entry> Sentences(std::int64_t nowMs) const;
    std::vector<Entry> Binary(std::int64_t nowMs) const;
    std::uint64_t ChecksumRefused() const;
    std::uint64_t NotSentences() const;
    std::uint64_t Bytes() const;
    double BytesPerSecond(std::int64_t nowMs) const;
    // Nothing before the first byte.
    std::optional<std::int64_t> MsSinceLastByte(std::int64_t nowMs) const;

    void Reset();

    // A summary for a terminal, and one JSON object.
    void WriteText(std::ostream& out, std::int64_t nowMs) const;
    void WriteJson(std::ostream& out, std::int64_t nowMs) const;

private:
    // the implementer's fixed tables
};
