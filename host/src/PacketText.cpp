#include "host/PacketText.h"

#include <cstdio>

namespace vantrel {

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";
constexpr char kBase64Digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

}  // namespace

std::string ToHex(const PacketBytes& bytes) {
    std::string text;
    text.reserve(bytes.size() * 2);
    for (uint8_t byte : bytes) {
        text.push_back(kHexDigits[byte >> 4]);
        text.push_back(kHexDigits[byte & 0xF]);
    }
    return text;
}

std::optional<PacketBytes> FromHex(std::string_view text) {
    PacketBytes bytes;
    bytes.reserve(text.size() / 2);
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] == ' ' || text[i] == '\t') {
            ++i;
            continue;
        }
        if (i + 1 >= text.size()) return std::nullopt;
        int high = HexValue(text[i]);
        int low = HexValue(text[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        bytes.push_back(static_cast<uint8_t>(high << 4 | low));
        i += 2;
    }
    return bytes;
}

std::string ToBase64(const PacketBytes& bytes) {
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    for (size_t i = 0; i < bytes.size(); i += 3) {
        uint32_t group = static_cast<uint32_t>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) group |= static_cast<uint32_t>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size()) group |= bytes[i + 2];
        text.push_back(kBase64Digits[group >> 18 & 0x3F]);
        text.push_back(kBase64Digits[group >> 12 & 0x3F]);
        text.push_back(i + 1 < bytes.size() ? kBase64Digits[group >> 6 & 0x3F] : '=');
        text.push_back(i + 2 < bytes.size() ? kBase64Digits[group & 0x3F] : '=');
    }
    return text;
}

std::optional<PacketBytes> FromBase64(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    PacketBytes bytes;
    bytes.reserve(text.size() / 4 * 3);
    for (size_t i = 0; i < text.size(); i += 4) {
        bool last = i + 4 == text.size();
        int padding = 0;
        if (last && text[i + 3] == '=') padding = text[i + 2] == '=' ? 2 : 1;
        uint32_t group = 0;
        for (int k = 0; k < 4; ++k) {
            int value = k >= 4 - padding ? 0 : Base64Value(text[i + k]);
            if (value < 0) return std::nullopt;
            group = group << 6 | static_cast<uint32_t>(value);
        }
        // Bits that padding leaves over must be zero, so that each text has one meaning.
        if (padding == 2 && (group & 0xFFFF) != 0) return std::nullopt;
        if (padding == 1 && (group & 0xFF) != 0) return std::nullopt;
        bytes.push_back(static_cast<uint8_t>(group >> 16));
        if (padding < 2) bytes.push_back(static_cast<uint8_t>(group >> 8));
        if (padding < 1) bytes.push_back(static_cast<uint8_t>(group));
    }
    return bytes;
}

std::string HexDump(const PacketBytes& bytes) {
    std::string text;
    for (size_t row = 0; row < bytes.size(); row += 16) {
        char head[24];
        snprintf(head, sizeof head, "  %04zx ", row);
        text += head;
        std::string printable;
        for (size_t i = row; i < row + 16; ++i) {
            if (i < bytes.size()) {
                text.push_back(' ');
                text.push_back(kHexDigits[bytes[i] >> 4]);
                text.push_back(kHexDigits[bytes[i] & 0xF]);
                printable.push_back(
                    bytes[i] >= 0x20 && bytes[i] < 0x7F ? static_cast<char>(bytes[i]) : '.');
            } else {
                text += "   ";
            }
        }
        text += "  |" + printable + "|\n";
    }
    return text;
}

}  // namespace vantrel
