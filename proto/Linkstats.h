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
//
// What a line is. A line that begins "$GP", three capital letters and then ",", "*" or
// its end is a sentence of that type. When it carries "*" its checksum must be two hex
// digits (either case), the last of the line, matching the XOR of every byte between
// "$" and "*": a line whose checksum is damaged or does not match is counted as refused
// and not as its type. A sentence without "*" is counted as its type.
//
// The line framer sees a binary frame's bytes too: the frame ends in CR LF, so the line
// it completes with the frame's last byte is the frame (or its end), and every CR LF
// inside the frame (in its length, payload or CRC) cuts off another line before it.
// Those lines are parts of the frame, not lines of their own: a line that is not a
// sentence is held (when it is no longer than a frame can be) until the next frame or
// sentence, and is not counted if it turns out to lie within that frame; the line
// completed right after a frame is not counted if it ends the frame. Every other line
// counts as not a sentence: noise, other talkers ($GN, $GL, ...), proprietary sentences
// ($P...), a sentence with noise before it, a damaged frame.
//
// Rates. Counts are kept per second of the clock. A rate is the count over the last
// kRateSeconds whole seconds before the current one, divided by their number: the
// current second is not over yet, and the second in which the first byte arrived was
// seen only in part, so neither is taken. Within kRateSeconds of the first byte the
// rate is taken over the whole seconds seen so far; before the first whole second it is
// 0. So a steady 5 a second reads 5.0 from the second whole second on, and a change of
// rate shows in full kRateSeconds after it. A clock that steps back makes the seconds
// it has already counted lie in the future: they are left out until overwritten.

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

    // The receive path: every block as read, every frame (whole, from its "$"; its id is
    // the third byte) and every line (with its CR LF), in the order the framers complete
    // them (PollSink's order).
    void BytesReceived(std::size_t n, std::int64_t nowMs);
    void FrameReceived(const std::uint8_t* frame, std::size_t length, std::int64_t nowMs);
    // A frame of which only the id is at hand: the next line that is not a sentence is
    // taken for its end, unseen, but the parts of a frame cut by a CR LF inside it count
    // as lines that are not sentences. Prefer the frame.
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
    // Held lines included: a frame that takes them back makes the count smaller again.
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
    // The seconds of the rate window and the current one.
    static constexpr std::size_t kSlots = kRateSeconds + 1;

    // A count since the start and one per second of the rate window: perSecond[i] is
    // the count of the second slotSecond_[i].
    struct Counter {
        std::uint64_t count = 0;
        std::array<std::uint32_t, kSlots> perSecond{};
    };

    // The slot of the second of nowMs. The first byte, frame or line starts the rate
    // window; each new second takes over its slot, zeroing it in every counter.
    std::size_t Slot(std::int64_t nowMs);
    void Add(Counter& counter, std::size_t slot);
    double Rate(const Counter& counter, std::int64_t nowMs) const;
    // The type of a sentence, found or added: the three letters at name.
    Counter& SentenceCounter(const std::uint8_t* name);
    void CountFrame(std::uint8_t id, std::int64_t nowMs);
    // The lines held are lines that are not sentences after all.
    void CountHeld();

    std::array<std::array<char, 3>, kMaxSentenceTypes> sentenceNames_{};
    std::array<Counter, kMaxSentenceTypes> sentences_{};
    std::size_t sentenceTypes_ = 0;
    Counter otherSentences_; // types beyond kMaxSentenceTypes
    std::array<Counter, 256> ids_{};
    std::array<std::uint8_t, 256> idOrder_{}; // the ids seen, in order of first arrival
    std::size_t idsSeen_ = 0;
    Counter bytes_;
    std::uint64_t checksumRefused_ = 0;
    std::uint64_t notSentences_ = 0;
    std::array<std::int64_t, kSlots> slotSecond_{};
    bool started_ = false;
    std::int64_t firstSecond_ = 0; // the second of the first byte, frame or line
    bool byteSeen_ = false;
    std::int64_t lastByteMs_ = 0;
    // The lines that are not sentences held for the next frame, one after the other,
    // and where each ends.
    std::array<std::uint8_t, 255> held_{};
    std::array<std::uint8_t, 128> heldEnds_{};
    std::size_t heldLines_ = 0;
    // The latest frame, while the line that may end it is still to come.
    std::array<std::uint8_t, 255> frame_{};
    std::size_t frameLength_ = 0;
    bool frameUnseen_ = false; // the latest frame came as its id alone
};
