#include "sim/Simrecords.h"

#include <cstdio>
#include <fstream>
#include <iterator>

namespace {

constexpr std::uint64_t kFnvPrime = 0x100000001b3ULL;
constexpr std::size_t kMaxDataBytes = 98;

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return 15;
}

SimRecord RecordOfLine(const std::string& text) {
    SimRecord record{0x3B};
    // text has no line end; its first character is the record mark.
    for (std::size_t i = 1; i < text.size(); i += 2) {
        const int high = HexValue(text[i]);
        const int low = i + 1 < text.size() ? HexValue(text[i + 1]) : 15;
        record.push_back(static_cast<std::uint8_t>(high * 16 + low));
    }
    return record;
}

// splitmix64: a small generator whose output depends on nothing but the seed.
std::uint64_t NextRandom(std::uint64_t& state) {
    std::uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

} // namespace

void RecordDigest::Feed(std::uint8_t b) {
    hash_ ^= b;
    hash_ *= kFnvPrime;
}

void RecordDigest::Add(const std::uint8_t* bytes, std::size_t n) {
    Feed(static_cast<std::uint8_t>(n & 0xFF));
    Feed(static_cast<std::uint8_t>((n >> 8) & 0xFF));
    for (std::size_t i = 0; i < n; ++i) {
        Feed(bytes[i]);
    }
    ++count_;
}

void RecordDigest::Clear() {
    hash_ = kOffsetBasis;
    count_ = 0;
}

std::uint64_t DigestOfRecords(const std::vector<SimRecord>& records) {
    RecordDigest digest;
    for (const SimRecord& r : records) {
        digest.Add(r);
    }
    return digest.Value();
}

bool SoftwareFileRecords(const std::string& path, std::vector<SimRecord>& records) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    const std::string content((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
    if (in.bad()) {
        return false;
    }
    records.clear();
    std::size_t start = 0;
    while (start < content.size()) {
        std::size_t end = content.find('\n', start);
        std::size_t next = end == std::string::npos ? content.size() : end + 1;
        if (end == std::string::npos) {
            end = content.size();
        } else if (end > start && content[end - 1] == '\r') {
            --end;
        }
        records.push_back(RecordOfLine(content.substr(start, end - start)));
        start = next;
    }
    return true;
}

bool WriteSoftwareFile(const std::string& path, std::size_t count, std::size_t dataBytes,
                       std::uint64_t seed) {
    if (dataBytes > kMaxDataBytes) {
        return false;
    }
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        return false;
    }
    static const char kDigits[] = "0123456789ABCDEF";
    std::uint64_t state = seed;
    std::string line;
    bool ok = true;
    for (std::size_t i = 0; i < count && ok; ++i) {
        line.assign(1, ':');
        for (std::size_t j = 0; j < dataBytes; ++j) {
            const auto b = static_cast<std::uint8_t>(NextRandom(state));
            line.push_back(kDigits[b >> 4]);
            line.push_back(kDigits[b & 0x0F]);
        }
        line += "\r\n";
        ok = std::fwrite(line.data(), 1, line.size(), f) == line.size();
    }
    if (std::fclose(f) != 0) {
        ok = false;
    }
    return ok;
}
