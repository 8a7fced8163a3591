#include "sim/Simoptions.h"

#include "proto/Memoutils.h"

#include <cstring>

bool SimVersion::Parse(const std::string& text, SimVersion& out) {
    std::size_t i = 0;
    auto number = [&](std::uint8_t& value) {
        unsigned v = 0;
        const std::size_t start = i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - start < 3) {
            v = v * 10 + static_cast<unsigned>(text[i] - '0');
            ++i;
        }
        if (i == start || v > 255) {
            return false;
        }
        value = static_cast<std::uint8_t>(v);
        return true;
    };
    SimVersion v;
    if (!number(v.major) || i >= text.size() || text[i] != '.') {
        return false;
    }
    ++i;
    if (!number(v.minor)) {
        return false;
    }
    const std::string suffix = text.substr(i);
    if (suffix.size() > kCfgVersionSuffixLen) {
        return false;
    }
    std::memset(v.suffix, 0, sizeof v.suffix);
    std::memcpy(v.suffix, suffix.data(), suffix.size());
    out = v;
    return true;
}

std::string SimVersion::Text() const {
    return std::to_string(major) + "." + std::to_string(minor) + std::string(suffix);
}

bool SimVersion::operator==(const SimVersion& o) const {
    return major == o.major && minor == o.minor && std::strcmp(suffix, o.suffix) == 0;
}
