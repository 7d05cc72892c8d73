#include "kits/Box.h"

BBox::BBox(BRect frame, const char* name, uint32 resizingMode, uint32 flags, border_style border)
    : BView(frame, name, resizingMode, flags),
      fHasLabel(false),
      fLabelView(nullptr),
      fBorder(border) {}

BBox::~BBox() = default;

void BBox::SetLabel(const char* label) {
    _ClearLabel();
    fHasLabel = label != nullptr;
    fLabel = label != nullptr ? label : "";
}

status_t BBox::SetLabel(BView* labelView) {
    _ClearLabel();
    if (labelView == nullptr) return B_OK;
    if (labelView->Parent() != nullptr) return B_BAD_VALUE;
    fLabelView = labelView;
    // The label sits on the top border, a little in from the left.
    fLabelView->ResizeToPreferred();
    fLabelView->MoveTo(10, 0);
    AddChild(fLabelView, ChildAt(0));
    return B_OK;
}

const char* BBox::Label() const { return fHasLabel ? fLabel.c_str() : nullptr; }

BView* BBox::LabelView() const { return fLabelView; }

void BBox::SetBorder(border_style border) { fBorder = border; }

border_style BBox::Border() const { return fBorder; }

void BBox::_ClearLabel() {
    fHasLabel = false;
    fLabel.clear();
    if (fLabelView != nullptr) {
        RemoveChild(fLabelView);
        delete fLabelView;
        fLabelView = nullptr;
    }
}
