// BFont: the metrics of a font, enough to lay views out. There is no rendering, so the
// metrics are fixed formulas of the font size, the same on every machine:
//
//   StringWidth: the sum over the text's characters (UTF-8 code points) of
//     size / 4      for the narrow characters   space ! ' ( ) , . / : ; I [ ] ` f i j l r t |
//     3 * size / 4  for the wide characters     M W m w @ %
//     size / 2      for every other character.
//   GetHeight: ascent = 3 * size / 4, descent = size / 4, leading = size / 6.
//
// be_plain_font has size 12: a narrow character is 3 wide, a wide one 9, others 6; ascent 9,
// descent 3, leading 2.
#pragma once

#include "platform/SupportDefs.h"

struct font_height {
    float ascent;
    float descent;
    float leading;
};

class BFont {
public:
    BFont();  // a copy of be_plain_font
    BFont(const BFont& other) = default;
    explicit BFont(const BFont* other);
    BFont& operator=(const BFont& other) = default;

    float Size() const;
    void SetSize(float size);

    float StringWidth(const char* string) const;
    // The first `length` bytes only (cut at the text's end).
    float StringWidth(const char* string, int32 length) const;
    void GetHeight(font_height* height) const;

    bool operator==(const BFont& other) const { return fSize == other.fSize; }
    bool operator!=(const BFont& other) const { return !(*this == other); }

private:
    float fSize;
};

extern const BFont* be_plain_font;
