// Feeds arbitrary bytes to the reader of a --ports-from file: every name it gives is one
// line's, trimmed, never empty, never a comment, and no line gives more than one.

#include "cli/Batch.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::size_t lines = 1;
    for (const char c : text) {
        lines += c == '\n' ? 1 : 0;
    }
    const std::vector<std::string> devices = DeviceListLines(text);
    if (devices.size() > lines) {
        std::abort();
    }
    for (const std::string& d : devices) {
        if (d.empty() || d.front() == '#' || d.find('\n') != std::string::npos ||
            d.find_first_of(" \t\r") == 0 || d.find_last_not_of(" \t\r") != d.size() - 1 ||
            text.find(d) == std::string_view::npos) {
            std::abort();
        }
    }
    return 0;
}
