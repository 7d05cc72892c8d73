#include "kits/Button.h"

#include <cmath>

BButton::BButton(BRect frame, const char* name, const char* label, BMessage* message,
                 uint32 resizingMode, uint32 flags)
    : BControl(frame, name, label, message, resizingMode, flags) {}

void BButton::GetPreferredSize(float* width, float* height) {
    font_height metrics;
    GetFontHeight(&metrics);
    if (width != nullptr) *width = std::ceil(StringWidth(Label())) + 24;
    if (height != nullptr)
        *height = std::ceil(metrics.ascent + metrics.descent + metrics.leading) + 10;
}
