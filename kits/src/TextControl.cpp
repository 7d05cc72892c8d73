#include "kits/TextControl.h"

#include <cmath>

BTextControl::BTextControl(BRect frame, const char* name, const char* label, const char* text,
                           BMessage* message, uint32 resizingMode, uint32 flags)
    : BControl(frame, name, label, message, resizingMode, flags),
      fText(text != nullptr ? text : ""),
      fDivider(frame.Width() / 2) {
    // The field's height is the font's business, not the caller's.
    float height;
    GetPreferredSize(nullptr, &height);
    ResizeTo(Bounds().Width(), height);
}

void BTextControl::SetText(const char* text) { fText = text != nullptr ? text : ""; }

const char* BTextControl::Text() const { return fText.c_str(); }

void BTextControl::SetDivider(float position) { fDivider = position; }

float BTextControl::Divider() const { return fDivider; }

void BTextControl::GetPreferredSize(float* width, float* height) {
    font_height metrics;
    GetFontHeight(&metrics);
    if (width != nullptr) *width = Bounds().Width();
    if (height != nullptr)
        *height = std::ceil(metrics.ascent + metrics.descent + metrics.leading) + 6;
}
