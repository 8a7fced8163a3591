// Software file lines and the records built from them.
#include "loader/Softwarefile.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes RecordOf(std::string_view line) {
    SoftwareRecord record;
    const std::uint8_t length = RecordFromLine(line, record);
    return Bytes(record.bytes, record.bytes + length);
}

// A file in memory, opened for reading like a software file.
class MemoryFile {
public:
    explicit MemoryFile(const std::string& content) : content_(content) {
        file_ = std::tmpfile();
        if (file_ != nullptr) {
            std::fwrite(content_.data(), 1, content_.size(), file_);
            std::rewind(file_);
        }
    }
    ~MemoryFile() {
        if (file_ != nullptr) {
            std::fclose(file_);
        }
    }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;
    std::FILE* get() const { return file_; }

private:
    std::string content_;
    std::FILE* file_ = nullptr;
};

struct ReadResult {
    std::vector<std::string> lines;
    LineRead end = LineRead::EndOfFile;
};

ReadResult ReadAll(const std::string& content) {
    MemoryFile file(content);
    ReadResult result;
    RecordLine line;
    for (;;) {
        const LineRead r = ReadRecordLine(file.get(), line);
        if (r != LineRead::Line) {
            result.end = r;
            return result;
        }
        result.lines.emplace_back(line.View());
    }
}

TEST(HexDigits, ConvertBothCasesAndTakeEverythingElseAsFifteen) {
    const std::string digits = "0123456789abcdef";
    for (int v = 0; v < 16; ++v) {
        EXPECT_EQ(HexDigitValue(digits[v]), v);
        EXPECT_EQ(HexDigitValue(static_cast<char>(std::toupper(digits[v]))), v);
    }
    for (char c : {'\0', 'g', 'G', '/', ':', '@', '`', ' ', '\r', '\n', 'x', '\x80', '\xff'}) {
        EXPECT_EQ(HexDigitValue(c), 15) << static_cast<int>(c);
    }
    EXPECT_EQ(HexPairToByte('0', 'A'), 0x0A);
    EXPECT_EQ(HexPairToByte('f', 'e'), 0xFE);
    EXPECT_EQ(HexPairToByte('Z', 'Z'), 0xFF);
    EXPECT_EQ(HexPairToByte('7', '\0'), 0x7F);
}

TEST(RecordFromLine, BuildsStartByteAndDigitPairs) {
    const struct {
        std::string line;
        Bytes record;
    } cases[] = {
        {"S0A1B\r\n", {0x3B, 0x0A, 0x1B}},
        {"S0a1b\r\n", {0x3B, 0x0A, 0x1B}},
        {"S0G\r\n", {0x3B, 0x0F}},
        {"SABC\r\n", {0x3B, 0xAB, 0xCF}}, // odd digit: low nibble 15
        {"\r\n", {0x3B}},
        {"S\r\n", {0x3B}},
        {":00\r\n", {0x3B, 0x00}}, // the mark's value does not matter
        // Line ends as they come; none takes a digit with it.
        {"S0A1B\n", {0x3B, 0x0A, 0x1B}},
        {"S0A1B", {0x3B, 0x0A, 0x1B}},
        {"S0A1B\r", {0x3B, 0x0A, 0x1B}},
        {"SABC\n", {0x3B, 0xAB, 0xCF}},
        // A NUL inside is a non-digit like any other and does not cut the line.
        {std::string("S0\0"
                     "12\r\n",
                     7),
         {0x3B, 0x0F, 0x12}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(RecordOf(c.line), c.record) << c.line;
    }
}

TEST(RecordFromLine, TakesAFullLineAndRefusesALongerOne) {
    const std::string digits(196, '5');
    Bytes full(99, 0x55);
    full[0] = 0x3B;
    EXPECT_EQ(RecordOf("S" + digits + "\r\n"), full);
    // One digit more no longer fits a record, whatever the line end.
    EXPECT_EQ(RecordOf("S" + digits + "7"), Bytes{});
    EXPECT_EQ(RecordOf("S" + digits + "7\n"), Bytes{});

    SoftwareRecord record;
    record.bytes[0] = 0xEE;
    EXPECT_EQ(RecordFromLine("S" + digits + "77\r\n", record), 0);
    EXPECT_EQ(RecordFromLine(std::string(400, 'A'), record), 0);
    EXPECT_EQ(record.bytes[0], 0xEE);
}

TEST(ReadRecordLine, ReadsEveryLineInOrder) {
    const ReadResult r = ReadAll("S01\r\nS0203\r\n\r\nSFF\r\n");
    EXPECT_EQ(r.end, LineRead::EndOfFile);
    EXPECT_EQ(r.lines, (std::vector<std::string>{"S01\r\n", "S0203\r\n", "\r\n", "SFF\r\n"}));

    EXPECT_EQ(ReadAll("").end, LineRead::EndOfFile);
    EXPECT_TRUE(ReadAll("").lines.empty());

    // LF alone and a last line without a line end are lines as they stand.
    const ReadResult loose = ReadAll("S01\nS02\r\nS03");
    EXPECT_EQ(loose.end, LineRead::EndOfFile);
    EXPECT_EQ(loose.lines, (std::vector<std::string>{"S01\n", "S02\r\n", "S03"}));
}

TEST(ReadRecordLine, ReportsLinesThatCannotBeSentAsErrors) {
    const std::string digits196(196, 'A');
    // 199 characters with CR LF is the longest line; one more is an error.
    const ReadResult longest = ReadAll("S" + digits196 + "\r\n");
    ASSERT_EQ(longest.lines.size(), 1u);
    EXPECT_EQ(longest.lines[0].size(), 199u);
    EXPECT_EQ(longest.end, LineRead::EndOfFile);
    EXPECT_EQ(longest.lines[0], "S" + digits196 + "\r\n");

    const struct {
        std::string content;
        std::size_t goodLines;
    } bad[] = {
        {"S" + digits196 + "A\r\n", 0},         // 200 characters
        {"S01\r\nS" + digits196 + "AB\r\n", 1}, // a good line, then a long one
        {"S" + digits196 + "A\n", 0},           // fits the buffer, not a record
        {"S" + digits196 + "AB", 0},            // same at the end of the file
        {std::string(5000, '0'), 0},
        {"\n", 0}, // shorter than a line end
        {"S01\r\n\n", 1},
        {"S01\r\nS", 1},
    };
    for (const auto& b : bad) {
        const ReadResult r = ReadAll(b.content);
        EXPECT_EQ(r.end, LineRead::Error) << b.content.substr(0, 20);
        EXPECT_EQ(r.lines.size(), b.goodLines) << b.content.substr(0, 20);
    }
}

TEST(ReadRecordLine, ReportsAnUnreadableFile) {
    RecordLine line;
    EXPECT_EQ(ReadRecordLine(nullptr, line), LineRead::Error);
    // Open for writing only: every read fails.
    const char* name = "softwarefile-write-only.gst";
    std::FILE* writeOnly = std::fopen(name, "w");
    ASSERT_NE(writeOnly, nullptr);
    std::fputs("S01\r\n", writeOnly);
    EXPECT_EQ(ReadRecordLine(writeOnly, line), LineRead::Error);
    std::fclose(writeOnly);
    std::remove(name);
}

TEST(SoftwareFile, EveryLineBecomesItsRecordByteForByte) {
    // Random records of every length, written as a file in both digit cases and
    // both line ends, come back as exactly those bytes, one record per line.
    std::mt19937 random(42);
    std::vector<Bytes> records;
    std::string content;
    const char* upper = "0123456789ABCDEF";
    const char* lower = "0123456789abcdef";
    for (std::size_t n = 0; n <= 98; ++n) {
        Bytes data(n);
        for (auto& b : data) {
            b = static_cast<std::uint8_t>(random());
        }
        const char* hex = n % 2 == 0 ? upper : lower;
        content += 'S';
        for (std::uint8_t b : data) {
            content += hex[b >> 4];
            content += hex[b & 15];
        }
        content += n % 3 == 0 ? "\n" : "\r\n";
        data.insert(data.begin(), 0x3B);
        records.push_back(data);
    }
    MemoryFile file(content);
    RecordLine line;
    SoftwareRecord record;
    std::size_t number = 0;
    LineRead r;
    while ((r = ReadRecordLine(file.get(), line)) == LineRead::Line) {
        ASSERT_LT(number, records.size());
        const std::uint8_t length = RecordFromLine(line.View(), record);
        EXPECT_EQ(Bytes(record.bytes, record.bytes + length), records[number])
            << "record " << number + 1;
        ++number;
    }
    EXPECT_EQ(r, LineRead::EndOfFile);
    EXPECT_EQ(number, records.size());
}

} // namespace
