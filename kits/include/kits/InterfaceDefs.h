// Constants and small types of the interface kit: colours, resizing modes, view flags,
// border styles, control values.
#pragma once

#include "platform/SupportDefs.h"

struct rgb_color {
    uint8 red;
    uint8 green;
    uint8 blue;
    uint8 alpha;

    constexpr bool operator==(const rgb_color& other) const {
        return red == other.red && green == other.green && blue == other.blue &&
               alpha == other.alpha;
    }
    constexpr bool operator!=(const rgb_color& other) const { return !(*this == other); }
};

// The system's named colours. ui_color gives fixed values, listed next to each name; an
// unknown name gives black.
enum color_which {
    B_PANEL_BACKGROUND_COLOR = 1,           // 216, 216, 216
    B_MENU_BACKGROUND_COLOR = 2,            // 216, 216, 216
    B_WINDOW_TAB_COLOR = 3,                 // 255, 203, 0
    B_KEYBOARD_NAVIGATION_COLOR = 4,        // 0, 0, 229
    B_DESKTOP_COLOR = 5,                    // 51, 102, 152
    B_MENU_SELECTION_BACKGROUND_COLOR = 6,  // 152, 152, 152
    B_MENU_ITEM_TEXT_COLOR = 7,             // 0, 0, 0
    B_PANEL_TEXT_COLOR = 10,                // 0, 0, 0
    B_DOCUMENT_BACKGROUND_COLOR = 11,       // 255, 255, 255
    B_DOCUMENT_TEXT_COLOR = 12,             // 0, 0, 0
    B_CONTROL_BACKGROUND_COLOR = 13,        // 245, 245, 245
    B_CONTROL_TEXT_COLOR = 14,              // 0, 0, 0
};

rgb_color ui_color(color_which which);

// Resizing modes. Each of a view's four edges follows one edge of its parent: the rule of an
// edge says which, and a parent's resize moves the edge with the edge it follows (the centre
// moves by half). The four 4-bit rules are packed as (top, left, bottom, right).
#define _rule_(top, left, bottom, right) (((top) << 12) | ((left) << 8) | ((bottom) << 4) | (right))
enum : uint32 {
    _VIEW_TOP_ = 1,
    _VIEW_LEFT_ = 2,
    _VIEW_BOTTOM_ = 3,
    _VIEW_RIGHT_ = 4,
    _VIEW_CENTER_ = 5,
};
enum : uint32 {
    B_FOLLOW_NONE = 0,
    B_FOLLOW_LEFT = _rule_(0, _VIEW_LEFT_, 0, _VIEW_LEFT_),          // 0x0202
    B_FOLLOW_RIGHT = _rule_(0, _VIEW_RIGHT_, 0, _VIEW_RIGHT_),       // 0x0404
    B_FOLLOW_LEFT_RIGHT = _rule_(0, _VIEW_LEFT_, 0, _VIEW_RIGHT_),   // 0x0204
    B_FOLLOW_H_CENTER = _rule_(0, _VIEW_CENTER_, 0, _VIEW_CENTER_),  // 0x0505
    B_FOLLOW_TOP = _rule_(_VIEW_TOP_, 0, _VIEW_TOP_, 0),             // 0x1010
    B_FOLLOW_BOTTOM = _rule_(_VIEW_BOTTOM_, 0, _VIEW_BOTTOM_, 0),    // 0x3030
    B_FOLLOW_TOP_BOTTOM = _rule_(_VIEW_TOP_, 0, _VIEW_BOTTOM_, 0),   // 0x1030
    B_FOLLOW_V_CENTER = _rule_(_VIEW_CENTER_, 0, _VIEW_CENTER_, 0),  // 0x5050
    B_FOLLOW_ALL_SIDES = B_FOLLOW_TOP_BOTTOM | B_FOLLOW_LEFT_RIGHT,  // 0x1234
    B_FOLLOW_ALL = B_FOLLOW_ALL_SIDES,
};

// View flags.
enum : uint32 {
    B_FULL_UPDATE_ON_RESIZE = 0x80000000,
    B_WILL_DRAW = 0x20000000,
    B_PULSE_NEEDED = 0x10000000,
    B_NAVIGABLE_JUMP = 0x08000000,
    B_FRAME_EVENTS = 0x04000000,  // the view hears FrameMoved and FrameResized
    B_NAVIGABLE = 0x02000000,
    B_SUBPIXEL_PRECISE = 0x01000000,
};

enum border_style {
    B_PLAIN_BORDER = 0,
    B_FANCY_BORDER = 1,
    B_NO_BORDER = 2,
};

// Values of two-state controls.
enum : int32 {
    B_CONTROL_OFF = 0,
    B_CONTROL_ON = 1,
};
