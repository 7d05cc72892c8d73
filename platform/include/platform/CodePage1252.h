// Windows-1252, the code page of a Series 5's names on the wire, against UTF-8 (what Linux names
// are), and the handheld's comparison of names without regard to case. The desktop's file
// system and the simulated handheld convert with this one table.
#pragma once

#include <cstddef>
#include <string>

#include "platform/SupportDefs.h"

namespace cp1252 {

// Bytes 0x80 to 0x9F. The five bytes the code page leaves undefined stand for the C1 control
// characters of the same value, so every byte has a character and back.
inline constexpr uint16 kHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98
};

// The byte for a code point, or -1 when the code page has none.
inline int ByteFor(uint32 code) {
    if (code < 0x80 || (code >= 0xA0 && code <= 0xFF)) return static_cast<int>(code);
    for (int i = 0; i < 32; i++)
        if (kHigh[i] == code) return 0x80 + i;
    return -1;
}

inline uint32 CodeFor(uint8 byte) {
    return byte >= 0x80 && byte < 0xA0 ? kHigh[byte - 0x80] : byte;
}

// Decodes one UTF-8 sequence at `at` (before `end`); false for a malformed, overlong or
// surrogate one.
inline bool NextUtf8(const uint8*& at, const uint8* end, uint32& code) {
    uint8 first = *at++;
    if (first < 0x80) {
        code = first;
        return true;
    }
    int more;
    uint32 value, minimum;
    if ((first & 0xE0) == 0xC0) {
        more = 1, value = first & 0x1F, minimum = 0x80;
    } else if ((first & 0xF0) == 0xE0) {
        more = 2, value = first & 0x0F, minimum = 0x800;
    } else if ((first & 0xF8) == 0xF0) {
        more = 3, value = first & 0x07, minimum = 0x10000;
    } else {
        return false;
    }
    for (int i = 0; i < more; i++) {
        if (at == end || (*at & 0xC0) != 0x80) return false;
        value = (value << 6) | (*at++ & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return false;
    code = value;
    return true;
}

// The wire bytes of UTF-8 text; false when it is not UTF-8 or holds a character the code page
// lacks. Nothing is ever replaced by a look-alike.
inline bool FromUtf8(const std::string& utf8, std::string& wire) {
    wire.clear();
    const auto* at = reinterpret_cast<const uint8*>(utf8.data());
    const auto* end = at + utf8.size();
    while (at < end) {
        uint32 code;
        if (!NextUtf8(at, end, code)) return false;
        int byte = ByteFor(code);
        if (byte < 0) return false;
        wire += static_cast<char>(byte);
    }
    return true;
}

// The UTF-8 form of wire bytes; every byte has one (no code point of the page needs four bytes).
inline std::string ToUtf8(const uint8* bytes, size_t length) {
    std::string out;
    out.reserve(length);
    for (size_t i = 0; i < length; i++) {
        uint32 code = CodeFor(bytes[i]);
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return out;
}

// Wire bytes folded for a comparison without regard to case, as the handheld compares names.
inline std::string FoldCase(const std::string& wire) {
    std::string out(wire);
    for (char& c : out) {
        uint8 b = static_cast<uint8>(c);
        if ((b >= 'A' && b <= 'Z') || (b >= 0xC0 && b <= 0xDE && b != 0xD7))
            b = static_cast<uint8>(b + 0x20);
        else if (b == 0x8A || b == 0x8C || b == 0x8E)
            b = static_cast<uint8>(b + 0x10);
        else if (b == 0x9F)
            b = 0xFF;
        c = static_cast<char>(b);
    }
    return out;
}

}  // namespace cp1252
