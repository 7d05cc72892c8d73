#include "kits/CheckBox.h"

#include <cmath>

BCheckBox::BCheckBox(BRect frame, const char* name, const char* label, BMessage* message,
                     uint32 resizingMode, uint32 flags)
    : BControl(frame, name, label, message, resizingMode, flags) {}

void BCheckBox::GetPreferredSize(float* width, float* height) {
    font_height metrics;
    GetFontHeight(&metrics);
    if (width != nullptr) *width = std::ceil(StringWidth(Label())) + 20;
    if (height != nullptr)
        *height = std::ceil(metrics.ascent + metrics.descent + metrics.leading) + 2;
}
