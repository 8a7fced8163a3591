#pragma once
// Text as it goes into a JSON document: a string literal, quotes included, with quotes
// and backslashes escaped and control characters as \u00XX. Bytes from 0x80 up pass as
// they are (UTF-8 stays UTF-8).

#include <string>
#include <string_view>

inline std::string JsonString(std::string_view text) {
    static const char hex[] = "0123456789abcdef";
    std::string out = "\"";
    for (const unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            out += "\\u00";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}
