// Helpers shared by the bank-tool tests.
#pragma once

#include <bankgen/Bytes.h>

#include <string>
#include <string_view>

namespace bankgen::test {

// "08 2b000000 | 37bc..." -> bytes; spaces and '|' only separate fields.
inline Bytes FromHex(std::string_view text) {
    Bytes out;
    int high = -1;
    for (char c : text) {
        int v;
        if (c >= '0' && c <= '9')
            v = c - '0';
        else if (c >= 'a' && c <= 'f')
            v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            v = c - 'A' + 10;
        else
            continue;
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<std::uint8_t>(high * 16 + v));
            high = -1;
        }
    }
    return out;
}

inline std::string ToHex(const Bytes& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (std::uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
        out += ' ';
    }
    return out;
}

} // namespace bankgen::test
