#include "loader/Softwarefile.h"

namespace {

// The line without its line end: a final LF, then a CR before it (or a final CR on
// a last line that has no LF). Nothing else is taken away.
std::string_view WithoutLineEnd(std::string_view line) {
    if (!line.empty() && line.back() == '\n') {
        line.remove_suffix(1);
    }
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    return line;
}

} // namespace

LineRead ReadRecordLine(std::FILE* file, RecordLine& line) {
    line.length = 0;
    line.text[0] = '\0';
    if (file == nullptr) {
        return LineRead::Error;
    }
    bool ended = false;
    while (!ended) {
        const int c = std::getc(file);
        if (c == EOF) {
            if (std::ferror(file)) {
                line.length = 0;
                line.text[0] = '\0';
                return LineRead::Error;
            }
            if (line.length == 0) {
                return LineRead::EndOfFile;
            }
            break; // a last line without a line end
        }
        if (line.length == kMaxRecordLineChars) {
            // A 200th character: the line does not fit the buffer.
            line.length = 0;
            line.text[0] = '\0';
            return LineRead::Error;
        }
        line.text[line.length++] = static_cast<char>(c);
        ended = c == '\n';
    }
    line.text[line.length] = '\0';
    if (line.length < 2 || WithoutLineEnd(line.View()).size() > kMaxRecordTextChars) {
        return LineRead::Error;
    }
    return LineRead::Line;
}

std::uint8_t RecordFromLine(std::string_view line, SoftwareRecord& record) {
    const std::string_view text = WithoutLineEnd(line);
    if (text.size() > kMaxRecordTextChars) {
        return 0;
    }
    record.bytes[0] = kRecordStartByte;
    // Pairs start after the mark. A digit without a partner pairs with the end of
    // the text, which counts as 15.
    std::size_t out = 1;
    for (std::size_t i = 1; i < text.size(); i += 2) {
        const char low = i + 1 < text.size() ? text[i + 1] : '\0';
        record.bytes[out++] = HexPairToByte(text[i], low);
    }
    return static_cast<std::uint8_t>(out);
}

std::uint8_t HexDigitValue(char c) {
    if (c >= 'a' && c <= 'f') {
        return static_cast<std::uint8_t>(c - 'a' + 10);
    }
    if (c >= 'A' && c <= 'F') {
        return static_cast<std::uint8_t>(c - 'A' + 10);
    }
    if (c >= '0' && c <= '9') {
        return static_cast<std::uint8_t>(c - '0');
    }
    return 15;
}

std::uint8_t HexPairToByte(char high, char low) {
    return static_cast<std::uint8_t>(HexDigitValue(high) * 16 + HexDigitValue(low));
}
