#include "kits/CheckBox.h"

BCheckBox::BCheckBox(BRect frame, const char* name, const char* label, BMessage* message,
                     uint32 resizingMode, uint32 flags)
    : BControl(frame, name, label, message, resizingMode, flags) {}

void BCheckBox::GetPreferredSize(float* width, float* height) { LabelSize(20, 2, width, height); }
