#include "Bytes.h"

#include <cstdio>

#include "platform/ByteOrder.h"

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes Word(uint16 value) {
    Bytes out(2);
    WordToBytes(value, out.data());
    return out;
}

Bytes Long(uint32 value) {
    Bytes out(4);
    LongToBytes(value, out.data());
    return out;
}

Bytes PathBytes(const std::string& path) {
    Bytes out(path.begin(), path.end());
    out.push_back(0);
    return out;
}

std::string Hex(const Bytes& bytes) {
    std::string out;
    char cell[4];
    for (uint8 b : bytes) {
        snprintf(cell, sizeof cell, "%02x ", b);
        out += cell;
    }
    return out;
}
