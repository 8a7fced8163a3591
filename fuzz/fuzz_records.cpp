// Software file lines and records from arbitrary bytes: the reader and the record
// builder must never read or write out of bounds, and every line the reader
// accepts must make a record that fits the record buffer.
#include "loader/Softwarefile.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    SoftwareRecord record;
    const std::string_view whole(reinterpret_cast<const char*>(data), size);
    const std::uint8_t length = RecordFromLine(whole, record);
    if (length > SoftwareRecord::kCapacity - 1 || (length > 0 && record.bytes[0] != 0x3B)) {
        std::abort();
    }

    if (size == 0) {
        return 0;
    }
    std::FILE* file = fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
    if (file == nullptr) {
        return 0;
    }
    RecordLine line;
    std::size_t consumed = 0;
    while (ReadRecordLine(file, line) == LineRead::Line) {
        consumed += line.length;
        if (line.length < 2 || line.length > kMaxRecordLineChars || consumed > size ||
            line.text[line.length] != '\0') {
            std::abort();
        }
        const std::uint8_t n = RecordFromLine(line.View(), record);
        if (n < 1 || n > SoftwareRecord::kCapacity - 1 || record.bytes[0] != 0x3B) {
            std::abort();
        }
    }
    std::fclose(file);
    return 0;
}
