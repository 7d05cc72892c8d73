// Byte strings for tests of wire formats: building them from parts and showing them in a
// failure message.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include "platform/SupportDefs.h"

using Bytes = std::vector<uint8>;

Bytes Concat(std::initializer_list<Bytes> parts);
Bytes operator+(Bytes a, const Bytes& b);
// A little-endian 16-bit or 32-bit word.
Bytes Word(uint16 value);
Bytes Long(uint32 value);
// A path or name as the wire carries it: the characters and a NUL.
Bytes PathBytes(const std::string& path);
// "2a 00 04 00 ": every byte in hex, each followed by a space.
std::string Hex(const Bytes& bytes);
