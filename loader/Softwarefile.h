#pragma once
// Software files (.gst) and the records the loader sends from them.
//
// A software file is text: each line is one record, a record-mark character (its
// value is not examined) followed by hexadecimal digits in pairs, ended by CR LF.
// The loader sends each line, in file order, as ";" followed by the bytes of the
// digit pairs. Nothing checks addresses or checksums: the receiver does that.
//
// The bytes go into a receiver's flash, so the reader is strict about what it
// cannot take as it stands: a line longer than the line buffer, a line whose
// digits would not fit one record, and a line shorter than a line end are errors,
// so the loader can refuse the whole file before it sends anything. A line end is
// removed as it comes (CR LF, LF alone, or none on the last line) and never takes
// a digit with it.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>

// At most this many characters in a line, its line end included.
inline constexpr std::size_t kMaxRecordLineChars = 199;
// At most this many characters before the line end: the mark and 196 digits.
inline constexpr std::size_t kMaxRecordTextChars = 197;
inline constexpr std::uint8_t kRecordStartByte = 0x3B; // ";"

// One line as read, line end included, zero-terminated.
struct RecordLine {
    char text[kMaxRecordLineChars + 1] = {};
    std::size_t length = 0;

    std::string_view View() const { return std::string_view(text, length); }
};

// The record as it goes on the serial line, raw: byte 0 is ";" and the data bytes
// follow. Kept until the next record is built, since an unacknowledged record is
// sent a second time from here.
struct SoftwareRecord {
    static constexpr std::size_t kCapacity = 100;
    std::uint8_t bytes[kCapacity] = {};
};

enum class LineRead {
    Line,      // line holds the next line
    EndOfFile, // no more lines
    Error      // a line the loader must not send, or the file could not be read
};

// Reads the next line, up to and including its line feed, from a file opened in
// binary mode ("rb"). Line: a usable line. EndOfFile: nothing more. Error: a line
// over 199 characters, with more than 197 characters before its line end, or of
// fewer than 2 characters, or a read failure; line then holds nothing usable.
LineRead ReadRecordLine(std::FILE* file, RecordLine& line);

// Builds the record for one line and returns its length in bytes (1 to 99): ";"
// then one byte per digit pair after the mark. The line end is removed first. An
// odd last digit becomes a high nibble with low nibble 15; a character that is not
// a hexadecimal digit counts as 15. A line that does not fit a record (more than
// 197 characters before its line end) gives 0 and an untouched record.
std::uint8_t RecordFromLine(std::string_view line, SoftwareRecord& record);

// 0-15 for 0-9, A-F and a-f; 15 for any other character.
std::uint8_t HexDigitValue(char c);
// HexDigitValue(high) * 16 + HexDigitValue(low).
std::uint8_t HexPairToByte(char high, char low);
