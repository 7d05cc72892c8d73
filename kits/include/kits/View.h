// BView: a rectangle in a window's view tree. Without a display the view draws nothing; what
// it keeps is what layout and behaviour depend on: the frame in its parent's coordinates, its
// children, resizing mode, flags, view colour and font.
//
// Views added to a window (directly or through a parent that is in one) become handlers of the
// window's looper. Attaching calls AttachedToWindow on each view of the added tree, parent
// before children, then AllAttached, children before parent; detaching calls
// DetachedFromWindow and AllDetached the same way. While the window runs, touch its views
// only with the window locked.
//
// A view owns its children: deleting a view deletes them. A view deleted while it still has a
// parent is taken out of it first.
#pragma once

#include <vector>

#include "kits/Font.h"
#include "kits/Handler.h"
#include "kits/InterfaceDefs.h"
#include "kits/Rect.h"

class BWindow;

class BView : public BHandler {
public:
    BView(BRect frame, const char* name, uint32 resizingMode, uint32 flags);
    virtual ~BView();

    // Hooks -----------------------------------------------------------------------------------
    virtual void AttachedToWindow();
    virtual void AllAttached();
    virtual void DetachedFromWindow();
    virtual void AllDetached();
    // Called, with B_FRAME_EVENTS in the flags, after the frame moved or changed size.
    virtual void FrameMoved(BPoint newPosition);
    virtual void FrameResized(float newWidth, float newHeight);
    // The size the view would like (width and height as Width()/Height() count them). The
    // default is the current size.
    virtual void GetPreferredSize(float* width, float* height);
    virtual void ResizeToPreferred();

    // The tree --------------------------------------------------------------------------------
    // Adds child (which must have no parent) before `before`, or at the end. A child added to
    // a view in a window is attached at once.
    virtual void AddChild(BView* child, BView* before = nullptr);
    // Takes child out (detaching it); the caller owns it again. False if it is not a child.
    virtual bool RemoveChild(BView* child);
    bool RemoveSelf();
    int32 CountChildren() const;
    BView* ChildAt(int32 index) const;
    BView* Parent() const;
    BWindow* Window() const;
    // This view or the first view of its subtree (depth first) with that name.
    BView* FindView(const char* name) const;

    // Geometry ---------------------------------------------------------------------------------
    BRect Frame() const;   // in the parent's coordinates
    BRect Bounds() const;  // in the view's own coordinates: (0, 0, width, height)
    void MoveBy(float dx, float dy);
    void MoveTo(BPoint where);
    void MoveTo(float x, float y);
    // Resizing also moves and resizes the children as their resizing modes say.
    void ResizeBy(float dw, float dh);
    void ResizeTo(float width, float height);

    uint32 ResizingMode() const;
    void SetResizingMode(uint32 mode);
    uint32 Flags() const;
    void SetFlags(uint32 flags);

    // Appearance -------------------------------------------------------------------------------
    void SetViewColor(rgb_color color);
    void SetViewColor(uint8 red, uint8 green, uint8 blue, uint8 alpha = 255);
    rgb_color ViewColor() const;
    void SetFont(const BFont* font);
    void GetFont(BFont* font) const;
    float StringWidth(const char* string) const;
    void GetFontHeight(font_height* height) const;

private:
    friend class BWindow;

    BView(const BView&) = delete;
    BView& operator=(const BView&) = delete;

    void _Attach(BWindow* window);
    void _Detach();
    void _CallAttachedHooks();
    void _CallAllAttached();
    void _CallDetachedHooks();
    void _CallAllDetached();
    void _ParentResizedBy(float dw, float dh);
    void _SetFrame(BRect frame);

    BRect fFrame;
    uint32 fResizingMode;
    uint32 fFlags;
    rgb_color fViewColor;
    BFont fFont;
    BView* fParent;
    BWindow* fWindow;
    std::vector<BView*> fChildren;
};
