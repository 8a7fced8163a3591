#pragma once
// A text line as the simulated receiver collects it, in either personality: the bytes up
// to its CR, at most 80 of them. A line that grows longer is dropped whole, up to its CR;
// an LF at the start of a line (the LF of a CR LF) is passed over.

#include <cstddef>
#include <cstdint>
#include <string>

class SimTextLine {
public:
    // False when the byte was not stored (a lone LF, or a line grown too long).
    bool Add(std::uint8_t b) {
        if (overflow_ || (b == '\n' && text_.empty())) {
            return false;
        }
        if (text_.size() >= kMaxLength) {
            overflow_ = true; // dropped whole, up to its CR
            text_.clear();
            return false;
        }
        text_ += static_cast<char>(b);
        return true;
    }
    // At the CR: the line without it, or false for a line that was dropped. Either way
    // the next byte begins a new line.
    bool End(std::string& line) {
        const bool kept = !overflow_;
        line = kept ? text_ : std::string();
        Clear();
        return kept;
    }
    void Clear() {
        text_.clear();
        overflow_ = false;
    }
    // No byte of a line taken since the last one ended.
    bool Idle() const { return text_.empty() && !overflow_; }
    // The bytes so far.
    const std::string& Text() const { return text_; }

private:
    static constexpr std::size_t kMaxLength = 80;

    std::string text_;
    bool overflow_ = false;
};
