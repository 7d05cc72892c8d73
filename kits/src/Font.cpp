#include "kits/Font.h"

#include <cstring>

namespace {

constexpr float kPlainSize = 12.0f;

const char kNarrow[] = " !'(),./:;I[]`fijlrt|";
const char kWide[] = "MWmw@%";

// The advance of one code point, as a multiple of the font size.
float Advance(unsigned char lead) {
    if (lead < 0x80) {
        if (lead != 0 && std::strchr(kNarrow, lead) != nullptr) return 0.25f;
        if (lead != 0 && std::strchr(kWide, lead) != nullptr) return 0.75f;
    }
    return 0.5f;
}

const BFont kPlainFont;

}  // namespace

const BFont* be_plain_font = &kPlainFont;

BFont::BFont() : fSize(kPlainSize) {}

BFont::BFont(const BFont* other) : fSize(other != nullptr ? other->fSize : kPlainSize) {}

float BFont::Size() const { return fSize; }

void BFont::SetSize(float size) {
    if (size > 0) fSize = size;
}

float BFont::StringWidth(const char* string) const {
    if (string == nullptr) return 0;
    return StringWidth(string, static_cast<int32>(std::strlen(string)));
}

float BFont::StringWidth(const char* string, int32 length) const {
    if (string == nullptr) return 0;
    float width = 0;
    for (int32 i = 0; i < length && string[i] != '\0'; ++i) {
        unsigned char byte = static_cast<unsigned char>(string[i]);
        // UTF-8 continuation bytes belong to the code point before them.
        if ((byte & 0xC0) == 0x80) continue;
        width += Advance(byte) * fSize;
    }
    return width;
}

void BFont::GetHeight(font_height* height) const {
    if (height == nullptr) return;
    height->ascent = fSize * 0.75f;
    height->descent = fSize * 0.25f;
    height->leading = fSize / 6.0f;
}
