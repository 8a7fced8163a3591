// The server's bytes of a network port, arbitrary: the Telnet decoder must never read or
// write out of bounds, must give no more data than it was given, and must decode the
// same whether the bytes come at once or one at a time (the first byte picks the size
// of the pieces of a third reading).
#include "serial/Rfc2217.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

struct Outcome {
    std::vector<std::uint8_t> data;
    std::vector<std::uint8_t> answers;
    std::uint64_t count;
    std::uint32_t value;
};

Outcome Decode(const std::uint8_t* in, std::size_t size, std::size_t piece) {
    TelnetDecoder d;
    Outcome o{};
    for (std::size_t at = 0; at < size; at += piece) {
        const std::size_t n = size - at < piece ? size - at : piece;
        d.Feed(in + at, n, o.data);
        const std::vector<std::uint8_t> a = d.TakeAnswers();
        o.answers.insert(o.answers.end(), a.begin(), a.end());
    }
    o.count = d.LastAnswer().count;
    o.value = d.LastAnswer().value;
    return o;
}

bool Same(const Outcome& a, const Outcome& b) {
    return a.data == b.data && a.answers == b.answers && a.count == b.count && a.value == b.value;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const Outcome whole = Decode(data, size, size);
    if (whole.data.size() > size || !Same(whole, Decode(data, size, 1)) ||
        !Same(whole, Decode(data, size, 1 + data[0] % 7))) {
        std::abort();
    }
    return 0;
}
