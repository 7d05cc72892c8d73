// BBox: a frame around a group of views, labelled by a text or by a view.
//
// A label view becomes the box's first child; the box resizes it to its preferred size and
// places it at (10, 0) of the box, on the top border.
#pragma once

#include <string>

#include "kits/View.h"
#include "platform/Errors.h"

class BBox : public BView {
public:
    BBox(BRect frame, const char* name = nullptr,
         uint32 resizingMode = B_FOLLOW_LEFT | B_FOLLOW_TOP,
         uint32 flags = B_WILL_DRAW | B_FRAME_EVENTS | B_NAVIGABLE_JUMP,
         border_style border = B_FANCY_BORDER);
    virtual ~BBox();

    // A text label; deletes a previous label view.
    void SetLabel(const char* label);
    // A view as the label (the box owns it); deletes a previous label view. Null: no label.
    status_t SetLabel(BView* labelView);
    const char* Label() const;  // null when there is no text label
    BView* LabelView() const;

    void SetBorder(border_style border);
    border_style Border() const;

private:
    void _ClearLabel();

    std::string fLabel;
    bool fHasLabel;
    BView* fLabelView;
    border_style fBorder;
};
