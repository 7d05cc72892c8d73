// Packets as text: hexadecimal and base64, both ways, and a hex dump with the printable
// characters beside. Shared by the door of the gateway and its command-line client.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

using PacketBytes = std::vector<uint8_t>;

// Lower-case hex, two digits a byte, nothing between.
std::string ToHex(const PacketBytes& bytes);
// Hex digits in either case; blanks (space, tab) between bytes are allowed, never inside one.
// Nothing for an odd digit count or any other character.
std::optional<PacketBytes> FromHex(std::string_view text);

std::string ToBase64(const PacketBytes& bytes);
// Standard alphabet with "=" padding, which must be present and correct.
std::optional<PacketBytes> FromBase64(std::string_view text);

// Rows of 16 bytes: offset, hex bytes, then the bytes as text ("." for anything unprintable).
std::string HexDump(const PacketBytes& bytes);

}  // namespace vantrel
