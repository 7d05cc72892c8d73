// BWindow: a looper that holds a tree of views. Without a display it has no screen presence:
// the first Show() starts its thread, after which messages to its views are dispatched there.
// Deleting the window (through Quit) deletes its views.
#pragma once

#include <string>

#include "kits/Looper.h"
#include "kits/Rect.h"

class BView;

enum window_type {
    B_UNTYPED_WINDOW = 0,
    B_TITLED_WINDOW = 1,
    B_MODAL_WINDOW = 3,
    B_DOCUMENT_WINDOW = 11,
    B_BORDERED_WINDOW = 20,
    B_FLOATING_WINDOW = 21,
};

enum : uint32 {
    B_NOT_MOVABLE = 0x00000001,
    B_NOT_CLOSABLE = 0x00000020,
    B_NOT_ZOOMABLE = 0x00000040,
    B_NOT_RESIZABLE = 0x00000002,
    B_ASYNCHRONOUS_CONTROLS = 0x00080000,
};

#define B_CURRENT_WORKSPACE 0

class BWindow : public BLooper {
public:
    BWindow(BRect frame, const char* title, window_type type, uint32 flags,
            uint32 workspace = B_CURRENT_WORKSPACE);
    virtual ~BWindow();

    // The first Show() runs the window's thread; later calls only unhide it.
    virtual void Show();
    virtual void Hide();
    bool IsHidden() const;

    void AddChild(BView* child, BView* before = nullptr);
    bool RemoveChild(BView* child);
    int32 CountChildren() const;
    BView* ChildAt(int32 index) const;
    BView* FindView(const char* name) const;

    BRect Frame() const;
    BRect Bounds() const;
    const char* Title() const;
    void SetTitle(const char* title);
    window_type Type() const;
    uint32 Flags() const;

private:
    BView* fTopView;
    BRect fFrame;
    std::string fTitle;
    window_type fType;
    uint32 fFlags;
    bool fHidden;
    bool fRunning;
};
