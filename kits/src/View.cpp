#include "kits/View.h"

#include <algorithm>
#include <cstring>

#include "kits/Window.h"

namespace {

// How far an edge moves when the parent's size changes by delta along the edge's axis.
float EdgeShift(uint32 rule, uint32 farRule, float delta) {
    if (rule == farRule) return delta;
    if (rule == _VIEW_CENTER_) return delta / 2;
    return 0;
}

}  // namespace

BView::BView(BRect frame, const char* name, uint32 resizingMode, uint32 flags)
    : BHandler(name),
      fFrame(frame),
      fResizingMode(resizingMode),
      fFlags(flags),
      fViewColor{255, 255, 255, 255},
      fFont(be_plain_font),
      fParent(nullptr),
      fWindow(nullptr) {}

BView::~BView() {
    if (fParent != nullptr) fParent->RemoveChild(this);
    while (!fChildren.empty()) {
        BView* child = fChildren.back();
        RemoveChild(child);
        delete child;
    }
    if (fWindow != nullptr) _Detach();
}

void BView::AttachedToWindow() {}

void BView::AllAttached() {}

void BView::DetachedFromWindow() {}

void BView::AllDetached() {}

void BView::FrameMoved(BPoint) {}

void BView::FrameResized(float, float) {}

void BView::GetPreferredSize(float* width, float* height) {
    if (width != nullptr) *width = fFrame.Width();
    if (height != nullptr) *height = fFrame.Height();
}

void BView::ResizeToPreferred() {
    float width, height;
    GetPreferredSize(&width, &height);
    ResizeTo(width, height);
}

void BView::AddChild(BView* child, BView* before) {
    if (child == nullptr || child == this || child->fParent != nullptr) return;
    auto at = std::find(fChildren.begin(), fChildren.end(), before);
    fChildren.insert(at, child);
    child->fParent = this;
    if (fWindow != nullptr) {
        child->_Attach(fWindow);
        child->_CallAttachedHooks();
        child->_CallAllAttached();
    }
}

bool BView::RemoveChild(BView* child) {
    if (child == nullptr || child->fParent != this) return false;
    if (child->fWindow != nullptr) {
        child->_CallDetachedHooks();
        child->_CallAllDetached();
        child->_Detach();
    }
    fChildren.erase(std::find(fChildren.begin(), fChildren.end(), child));
    child->fParent = nullptr;
    return true;
}

bool BView::RemoveSelf() { return fParent != nullptr && fParent->RemoveChild(this); }

int32 BView::CountChildren() const { return static_cast<int32>(fChildren.size()); }

BView* BView::ChildAt(int32 index) const {
    if (index < 0 || index >= CountChildren()) return nullptr;
    return fChildren[index];
}

BView* BView::Parent() const { return fParent; }

BWindow* BView::Window() const { return fWindow; }

BView* BView::FindView(const char* name) const {
    if (name == nullptr) return nullptr;
    if (Name() != nullptr && std::strcmp(Name(), name) == 0) return const_cast<BView*>(this);
    for (BView* child : fChildren) {
        if (BView* found = child->FindView(name)) return found;
    }
    return nullptr;
}

BRect BView::Frame() const { return fFrame; }

BRect BView::Bounds() const { return BRect(0, 0, fFrame.Width(), fFrame.Height()); }

void BView::MoveBy(float dx, float dy) { _SetFrame(fFrame.OffsetByCopy(dx, dy)); }

void BView::MoveTo(BPoint where) { MoveTo(where.x, where.y); }

void BView::MoveTo(float x, float y) { MoveBy(x - fFrame.left, y - fFrame.top); }

void BView::ResizeBy(float dw, float dh) {
    _SetFrame(BRect(fFrame.left, fFrame.top, fFrame.right + dw, fFrame.bottom + dh));
}

void BView::ResizeTo(float width, float height) {
    ResizeBy(width - fFrame.Width(), height - fFrame.Height());
}

uint32 BView::ResizingMode() const { return fResizingMode; }

void BView::SetResizingMode(uint32 mode) { fResizingMode = mode; }

uint32 BView::Flags() const { return fFlags; }

void BView::SetFlags(uint32 flags) { fFlags = flags; }

void BView::SetViewColor(rgb_color color) { fViewColor = color; }

void BView::SetViewColor(uint8 red, uint8 green, uint8 blue, uint8 alpha) {
    SetViewColor(rgb_color{red, green, blue, alpha});
}

rgb_color BView::ViewColor() const { return fViewColor; }

void BView::SetFont(const BFont* font) {
    if (font != nullptr) fFont = *font;
}

void BView::GetFont(BFont* font) const {
    if (font != nullptr) *font = fFont;
}

float BView::StringWidth(const char* string) const { return fFont.StringWidth(string); }

void BView::GetFontHeight(font_height* height) const { fFont.GetHeight(height); }

// Makes the subtree handlers of the window. The hooks run afterwards, once every view of the
// subtree can be the target of a messenger.
void BView::_Attach(BWindow* window) {
    window->AddHandler(this);
    fWindow = window;
    SetNextHandler(fParent != nullptr ? static_cast<BHandler*>(fParent) : window);
    for (BView* child : fChildren) child->_Attach(window);
}

void BView::_Detach() {
    for (BView* child : fChildren) child->_Detach();
    if (fWindow != nullptr) fWindow->RemoveHandler(this);
    fWindow = nullptr;
}

// The hooks may add or remove children; a child added meanwhile was attached by AddChild, so
// only the children present before the hook are walked.
void BView::_CallAttachedHooks() {
    std::vector<BView*> children = fChildren;
    AttachedToWindow();
    for (BView* child : children) {
        if (child->fParent == this) child->_CallAttachedHooks();
    }
}

void BView::_CallAllAttached() {
    std::vector<BView*> children = fChildren;
    for (BView* child : children) child->_CallAllAttached();
    AllAttached();
}

void BView::_CallDetachedHooks() {
    DetachedFromWindow();
    std::vector<BView*> children = fChildren;
    for (BView* child : children) child->_CallDetachedHooks();
}

void BView::_CallAllDetached() {
    std::vector<BView*> children = fChildren;
    for (BView* child : children) child->_CallAllDetached();
    AllDetached();
}

void BView::_ParentResizedBy(float dw, float dh) {
    uint32 top = (fResizingMode >> 12) & 0xF;
    uint32 left = (fResizingMode >> 8) & 0xF;
    uint32 bottom = (fResizingMode >> 4) & 0xF;
    uint32 right = fResizingMode & 0xF;
    _SetFrame(BRect(fFrame.left + EdgeShift(left, _VIEW_RIGHT_, dw),
                    fFrame.top + EdgeShift(top, _VIEW_BOTTOM_, dh),
                    fFrame.right + EdgeShift(right, _VIEW_RIGHT_, dw),
                    fFrame.bottom + EdgeShift(bottom, _VIEW_BOTTOM_, dh)));
}

void BView::_SetFrame(BRect frame) {
    BRect old = fFrame;
    fFrame = frame;
    float dw = frame.Width() - old.Width();
    float dh = frame.Height() - old.Height();
    if (dw != 0 || dh != 0) {
        std::vector<BView*> children = fChildren;
        for (BView* child : children) child->_ParentResizedBy(dw, dh);
    }
    // Frame events come from the window system, so only attached views hear them.
    if (fWindow == nullptr || (fFlags & B_FRAME_EVENTS) == 0) return;
    if (frame.LeftTop() != old.LeftTop()) FrameMoved(frame.LeftTop());
    if (dw != 0 || dh != 0) FrameResized(frame.Width(), frame.Height());
}
