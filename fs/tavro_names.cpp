// tavro3: names between the desktop's UTF-8 and the Series 3's character set, IBM code page
// 850. Plain ASCII passes unchanged both ways.
#include <cstring>

#include "tavro.h"

namespace {

// The characters of bytes 0x80 to 0xFF, as Unicode code points.
constexpr uint16 kHighHalf[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,  // 0x80
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,  // 0x90
    0x00FF, 0x00D6, 0x00DC, 0x00F8, 0x00A3, 0x00D8, 0x00D7, 0x0192,
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,  // 0xA0
    0x00BF, 0x00AE, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x00C1, 0x00C2, 0x00C0,  // 0xB0
    0x00A9, 0x2563, 0x2551, 0x2557, 0x255D, 0x00A2, 0x00A5, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x00E3, 0x00C3,  // 0xC0
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x00A4,
    0x00F0, 0x00D0, 0x00CA, 0x00CB, 0x00C8, 0x0131, 0x00CD, 0x00CE,  // 0xD0
    0x00CF, 0x2518, 0x250C, 0x2588, 0x2584, 0x00A6, 0x00CC, 0x2580,
    0x00D3, 0x00DF, 0x00D4, 0x00D2, 0x00F5, 0x00D5, 0x00B5, 0x00FE,  // 0xE0
    0x00DE, 0x00DA, 0x00DB, 0x00D9, 0x00FD, 0x00DD, 0x00AF, 0x00B4,
    0x00AD, 0x00B1, 0x2017, 0x00BE, 0x00B6, 0x00A7, 0x00F7, 0x00B8,  // 0xF0
    0x00B0, 0x00A8, 0x00B7, 0x00B9, 0x00B3, 0x00B2, 0x25A0, 0x00A0,
};

// The next code point of UTF-8 text, or -1 for a byte sequence that is not UTF-8.
int32 next_code_point(const uint8*& at) {
    uint8 first = *at++;
    if (first < 0x80) return first;
    int more;
    int32 point;
    if ((first & 0xE0) == 0xC0) {
        more = 1;
        point = first & 0x1F;
    } else if ((first & 0xF0) == 0xE0) {
        more = 2;
        point = first & 0x0F;
    } else if ((first & 0xF8) == 0xF0) {
        more = 3;
        point = first & 0x07;
    } else {
        return -1;
    }
    for (int i = 0; i < more; i++) {
        if ((*at & 0xC0) != 0x80) return -1;  // also stops at the NUL
        point = (point << 6) | (*at++ & 0x3F);
    }
    // Overlong forms would let one character pass for another.
    static const int32 kLeast[4] = {0, 0x80, 0x800, 0x10000};
    if (point < kLeast[more] || point > 0x10FFFF) return -1;
    return point;
}

int device_byte(int32 point) {
    if (point < 0x80) return point;
    for (int i = 0; i < 128; i++)
        if (kHighHalf[i] == point) return 0x80 + i;
    return -1;
}

}  // namespace

status_t to_device_text(const char* text, char* out, size_t size) {
    const uint8* at = reinterpret_cast<const uint8*>(text);
    size_t length = 0;
    while (*at != 0) {
        int byte = device_byte(next_code_point(at));
        if (byte < 0) return B_BAD_VALUE;
        if (length + 1 >= size) return B_NAME_TOO_LONG;
        out[length++] = static_cast<char>(byte);
    }
    if (size == 0) return B_NAME_TOO_LONG;
    out[length] = '\0';
    return B_OK;
}

bool from_device_text(const char* text, size_t length, char* out, size_t size) {
    size_t used = 0;
    for (size_t i = 0; i < length; i++) {
        uint8 byte = static_cast<uint8>(text[i]);
        uint32 point = byte < 0x80 ? byte : kHighHalf[byte - 0x80];
        char encoded[3];
        size_t count;
        if (point < 0x80) {
            encoded[0] = static_cast<char>(point);
            count = 1;
        } else if (point < 0x800) {
            encoded[0] = static_cast<char>(0xC0 | (point >> 6));
            encoded[1] = static_cast<char>(0x80 | (point & 0x3F));
            count = 2;
        } else {
            encoded[0] = static_cast<char>(0xE0 | (point >> 12));
            encoded[1] = static_cast<char>(0x80 | ((point >> 6) & 0x3F));
            encoded[2] = static_cast<char>(0x80 | (point & 0x3F));
            count = 3;
        }
        if (used + count >= size) return false;
        memcpy(out + used, encoded, count);
        used += count;
    }
    if (size == 0) return false;
    out[used] = '\0';
    return true;
}
