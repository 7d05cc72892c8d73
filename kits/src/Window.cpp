#include "kits/Window.h"

#include "kits/View.h"

namespace {

std::string PortName(const char* title) {
    return std::string("w>") + (title != nullptr ? title : "");
}

}  // namespace

BWindow::BWindow(BRect frame, const char* title, window_type type, uint32 flags, uint32)
    : BLooper(PortName(title).c_str()),
      fTopView(nullptr),
      fFrame(frame),
      fTitle(title != nullptr ? title : ""),
      fType(type),
      fFlags(flags),
      fHidden(true),
      fRunning(false) {
    fTopView = new BView(Bounds(), "top view", B_FOLLOW_ALL_SIDES, 0);
    fTopView->_Attach(this);
}

BWindow::~BWindow() {
    // Children go first, each detached while it is still whole, so their hooks run as theirs.
    while (fTopView->CountChildren() > 0) {
        BView* child = fTopView->ChildAt(fTopView->CountChildren() - 1);
        fTopView->RemoveChild(child);
        delete child;
    }
    fTopView->_Detach();
    delete fTopView;
}

void BWindow::Show() {
    fHidden = false;
    if (!fRunning) {
        fRunning = true;
        (void)Run();
    }
}

void BWindow::Hide() { fHidden = true; }

bool BWindow::IsHidden() const { return fHidden; }

void BWindow::AddChild(BView* child, BView* before) { fTopView->AddChild(child, before); }

bool BWindow::RemoveChild(BView* child) { return fTopView->RemoveChild(child); }

int32 BWindow::CountChildren() const { return fTopView->CountChildren(); }

BView* BWindow::ChildAt(int32 index) const { return fTopView->ChildAt(index); }

BView* BWindow::FindView(const char* name) const {
    for (int32 i = 0; i < fTopView->CountChildren(); ++i) {
        if (BView* found = fTopView->ChildAt(i)->FindView(name)) return found;
    }
    return nullptr;
}

BRect BWindow::Frame() const { return fFrame; }

BRect BWindow::Bounds() const { return BRect(0, 0, fFrame.Width(), fFrame.Height()); }

const char* BWindow::Title() const { return fTitle.c_str(); }

void BWindow::SetTitle(const char* title) { fTitle = title != nullptr ? title : ""; }

window_type BWindow::Type() const { return fType; }

uint32 BWindow::Flags() const { return fFlags; }
