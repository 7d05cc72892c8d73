// BButton: a control that invokes when pressed.
//
// Preferred size: width = StringWidth(label) + 24 (rounded up), height = font height
// (ascent + descent + leading, rounded up) + 10. With be_plain_font: label width + 24, 24.
#pragma once

#include "kits/Control.h"

class BButton : public BControl {
public:
    BButton(BRect frame, const char* name, const char* label, BMessage* message,
            uint32 resizingMode = B_FOLLOW_LEFT | B_FOLLOW_TOP,
            uint32 flags = B_WILL_DRAW | B_NAVIGABLE);

    virtual void GetPreferredSize(float* width, float* height) override;
};
