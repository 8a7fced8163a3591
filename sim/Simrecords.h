#pragma once
// Software records as the simulated receiver's loader takes them in, and the means to
// prove that a load arrived byte for byte: a digest over a sequence of records, the
// records a software file yields, and a generator of software files for tests and
// benchmarks.
//
// A record on the line is ";" followed by its data bytes. The digest is FNV-1a (64 bit)
// over every record in order, each fed as its length (two bytes, little-endian) and
// then its bytes, ";" included, so both the bytes and the cut between records count.
//
// SoftwareFileRecords reads a file independently of the program's own loader, so a
// mistake in the loader's reader shows up as a digest mismatch instead of hiding
// behind a shared implementation.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using SimRecord = std::vector<std::uint8_t>;

class RecordDigest {
public:
    void Add(const std::uint8_t* bytes, std::size_t n);
    void Add(const SimRecord& record) { Add(record.data(), record.size()); }
    void Clear();

    std::uint64_t Value() const { return hash_; }
    std::size_t Count() const { return count_; }

private:
    static constexpr std::uint64_t kOffsetBasis = 0xcbf29ce484222325ULL;
    void Feed(std::uint8_t b);

    std::uint64_t hash_ = kOffsetBasis;
    std::size_t count_ = 0;
};

std::uint64_t DigestOfRecords(const std::vector<SimRecord>& records);

// The records the loader sends for a software file: for each line, ";" then the bytes
// of the digit pairs after the record mark. A line end (CR LF, or LF alone, or none on
// the last line) is removed first; an odd last digit is the high nibble of a byte whose
// low nibble is 15, and a character that is not a hexadecimal digit counts as 15.
// False when the file cannot be read.
bool SoftwareFileRecords(const std::string& path, std::vector<SimRecord>& records);

// Writes a software file of `count` lines, each a record mark ":" followed by
// `dataBytes` bytes (at most 98) as upper-case hexadecimal pairs and CR LF. The bytes
// come from a generator seeded with `seed`, so the same arguments give the same file.
// False when the file cannot be written.
bool WriteSoftwareFile(const std::string& path, std::size_t count, std::size_t dataBytes,
                       std::uint64_t seed);
