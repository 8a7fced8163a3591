#pragma once
// Software files made up for the tests, and the records the loader must send for them.

#include "tests/common/Tempdir.h" // MakeTempDir, for the folder the files go in

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

struct GeneratedGst {
    std::string text;                 // the file's content
    std::vector<std::string> records; // ";" and the data bytes, one per line
};

// count lines of pseudo-random data, lengths cycling through 0 to maxBytes data bytes,
// digits in upper and lower case, each line a ":" mark, the digits and CR LF.
inline GeneratedGst MakeGst(int count, int maxBytes = 98, std::uint32_t seed = 12345) {
    static const char upper[] = "0123456789ABCDEF";
    static const char lower[] = "0123456789abcdef";
    GeneratedGst g;
    std::uint32_t x = seed;
    for (int i = 0; i < count; ++i) {
        const int n = maxBytes == 0 ? 0 : (i * 37 + 11) % (maxBytes + 1);
        std::string line = ":";
        std::string record = ";";
        for (int b = 0; b < n; ++b) {
            x = x * 1664525u + 1013904223u;
            const std::uint8_t byte = static_cast<std::uint8_t>(x >> 24);
            const char* digits = (i + b) % 3 == 0 ? lower : upper;
            line += digits[byte >> 4];
            line += digits[byte & 15];
            record += static_cast<char>(byte);
        }
        g.text += line + "\r\n";
        g.records.push_back(record);
    }
    return g;
}

inline bool WriteTextFile(const std::string& path, const std::string& text) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        return false;
    }
    const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return std::fclose(f) == 0 && ok;
}
