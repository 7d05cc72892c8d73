// BTextControl: a one-line text field with a label in front of it. The divider is the
// x position, in the control's coordinates, where the label ends and the field begins.
//
// As on the platform, the control sets its own height from its font: the constructor (and
// SetFont) resize it to the preferred height, keeping the top edge and the width given.
// Preferred size: width = the current width (a text control takes the width it is given),
// height = font height (ascent + descent + leading, rounded up) + 6; with be_plain_font 20.
// The initial divider is half the width.
#pragma once

#include <string>

#include "kits/Control.h"

class BTextControl : public BControl {
public:
    BTextControl(BRect frame, const char* name, const char* label, const char* text,
                 BMessage* message, uint32 resizingMode = B_FOLLOW_LEFT | B_FOLLOW_TOP,
                 uint32 flags = B_WILL_DRAW | B_NAVIGABLE);

    virtual void SetText(const char* text);  // null: empty
    const char* Text() const;
    virtual void SetDivider(float position);
    float Divider() const;

    virtual void GetPreferredSize(float* width, float* height) override;

private:
    std::string fText;
    float fDivider;
};
