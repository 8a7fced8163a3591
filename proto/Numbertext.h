#pragma once
// Numbers written for files and reports the same on every machine: a decimal point
// whatever the locale, and no more digits than the value has.

#include <charconv>
#include <string>

// value with exactly `decimals` digits after the point.
inline std::string FixedText(double value, int decimals) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
    return std::string(buf, r.ptr);
}

// The shortest decimal that reads back as value (56.3, not 56.299999999999997).
inline std::string ShortestText(double value) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
    return std::string(buf, r.ptr);
}
