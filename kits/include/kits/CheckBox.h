// BCheckBox: a two-state control with a label. A click toggles the value between
// B_CONTROL_OFF and B_CONTROL_ON and invokes the control.
//
// Preferred size: width = StringWidth(label) + 20 (rounded up), height = font height
// (ascent + descent + leading, rounded up) + 2. With be_plain_font: label width + 20, 16.
#pragma once

#include "kits/Control.h"

class BCheckBox : public BControl {
public:
    BCheckBox(BRect frame, const char* name, const char* label, BMessage* message,
              uint32 resizingMode = B_FOLLOW_LEFT | B_FOLLOW_TOP,
              uint32 flags = B_WILL_DRAW | B_NAVIGABLE);

    virtual void GetPreferredSize(float* width, float* height) override;
};
