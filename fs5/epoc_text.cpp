#include "epoc_text.h"

#include <cstring>

#include "epoc_wire.h"

namespace epoc {

namespace {

// Windows-1252 bytes 0x80 to 0x9F. The five bytes the code page leaves undefined stand for
// the C1 control characters of the same value, so every byte has a character and back.
constexpr uint16 kHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98
};

// The byte for a code point, or -1 when the code page has none.
int byte_for(uint32 code) {
    if (code < 0x80 || (code >= 0xA0 && code <= 0xFF)) return static_cast<int>(code);
    for (int i = 0; i < 32; i++)
        if (kHigh[i] == code) return 0x80 + i;
    return -1;
}

uint32 code_for(uint8 byte) { return byte >= 0x80 && byte < 0xA0 ? kHigh[byte - 0x80] : byte; }

// Decodes one UTF-8 sequence; false for a malformed, overlong or surrogate one.
bool next_code(const uint8*& at, const uint8* end, uint32* code) {
    uint8 first = *at++;
    if (first < 0x80) {
        *code = first;
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
    *code = value;
    return true;
}

void append_utf8(std::string& out, uint32 code) {
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

}  // namespace

status_t utf8_to_wire(const char* utf8, std::string* wire) {
    wire->clear();
    const uint8* at = reinterpret_cast<const uint8*>(utf8);
    const uint8* end = at + strlen(utf8);
    while (at < end) {
        uint32 code;
        if (!next_code(at, end, &code)) return B_BAD_VALUE;
        int byte = byte_for(code);
        if (byte < 0) return B_BAD_VALUE;
        *wire += static_cast<char>(byte);
    }
    return B_OK;
}

std::string wire_to_utf8(const uint8* bytes, size_t length) {
    std::string out;
    out.reserve(length);
    for (size_t i = 0; i < length; i++) append_utf8(out, code_for(bytes[i]));
    return out;
}

status_t check_name(const char* utf8, std::string* wire) {
    if (utf8 == nullptr || utf8[0] == '\0') return B_BAD_VALUE;
    if (strcmp(utf8, ".") == 0 || strcmp(utf8, "..") == 0) return B_BAD_VALUE;
    status_t status = utf8_to_wire(utf8, wire);
    if (status != B_OK) return status;
    for (unsigned char c : *wire)
        if (c < 0x20 || strchr("\\/:*?\"<>|", c) != nullptr) return B_BAD_VALUE;
    // A drive letter, a separator and the name must fit.
    if (wire->size() > kMaxPath - 3) return B_NAME_TOO_LONG;
    return B_OK;
}

std::string fold_case(const std::string& wire) {
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

}  // namespace epoc
