// Little-endian field access for device packets. Every wire field is little-endian.
#pragma once

#include "platform/SupportDefs.h"

inline void WordToBytes(uint16 value, uint8* dest) {
    dest[0] = static_cast<uint8>(value);
    dest[1] = static_cast<uint8>(value >> 8);
}

inline void LongToBytes(uint32 value, uint8* dest) {
    dest[0] = static_cast<uint8>(value);
    dest[1] = static_cast<uint8>(value >> 8);
    dest[2] = static_cast<uint8>(value >> 16);
    dest[3] = static_cast<uint8>(value >> 24);
}

inline uint16 BytesToUword(const uint8* src) { return static_cast<uint16>(src[0] | (src[1] << 8)); }

// Sign-extending: device statuses and handles are signed 16-bit values.
inline int16 BytesToWord(const uint8* src) { return static_cast<int16>(BytesToUword(src)); }

inline uint32 BytesToUlong(const uint8* src) {
    return static_cast<uint32>(src[0]) | (static_cast<uint32>(src[1]) << 8) |
           (static_cast<uint32>(src[2]) << 16) | (static_cast<uint32>(src[3]) << 24);
}
