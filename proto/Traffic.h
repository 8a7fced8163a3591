#pragma once
// What the receive monitor counts of the receiver's traffic, in one place for every
// reader of the port (the main window, kestrane-cli).
//
// A message is a complete binary frame (its CRC checked by the framer) or a text line
// that is one of the receiver's own sentences, a line that begins "$GP" (the rule of
// proto/Sentencetext.h). The count only ever goes up, wrapping rather than
// overflowing: what matters to its readers is that it changed. The automatic search
// takes a change of the count, with a last frame id other than that of our own request,
// for the receiver's answer.
//
// Standard C++ only.

#include <cstddef>
#include <cstdint>
#include <string_view>

class TrafficCount {
public:
    // A complete binary frame from its "$": counted, and its id kept as the last one.
    void CountFrame(const std::uint8_t* frame, std::size_t length);
    // A complete text line, its CR LF included: counted when it is one of the receiver's
    // sentences, which is then handed back without its line end; false for any other
    // line, which is not counted.
    bool CountLine(const std::uint8_t* line, std::size_t length, std::string_view& sentence);

    // Frames and sentences counted so far, and the id of the latest frame (0 before the
    // first).
    std::int32_t MessageCount() const { return count_; }
    int LastMessageId() const { return lastId_; }

private:
    void Count();

    std::int32_t count_ = 0;
    int lastId_ = 0;
};
