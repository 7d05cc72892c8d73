// Little-endian fields appended to a growing packet (ByteOrder.h writes into a fixed buffer).
#pragma once

#include <vector>

#include "platform/ByteOrder.h"

inline void AppendWord(std::vector<uint8>& out, uint16 value) {
    uint8 bytes[2];
    WordToBytes(value, bytes);
    out.insert(out.end(), bytes, bytes + 2);
}

inline void AppendLong(std::vector<uint8>& out, uint32 value) {
    uint8 bytes[4];
    LongToBytes(value, bytes);
    out.insert(out.end(), bytes, bytes + 4);
}
