#include "kits/InterfaceDefs.h"

rgb_color ui_color(color_which which) {
    switch (which) {
        case B_PANEL_BACKGROUND_COLOR:
        case B_MENU_BACKGROUND_COLOR:
            return {216, 216, 216, 255};
        case B_WINDOW_TAB_COLOR:
            return {255, 203, 0, 255};
        case B_KEYBOARD_NAVIGATION_COLOR:
            return {0, 0, 229, 255};
        case B_DESKTOP_COLOR:
            return {51, 102, 152, 255};
        case B_MENU_SELECTION_BACKGROUND_COLOR:
            return {152, 152, 152, 255};
        case B_DOCUMENT_BACKGROUND_COLOR:
            return {255, 255, 255, 255};
        case B_CONTROL_BACKGROUND_COLOR:
            return {245, 245, 245, 255};
        case B_MENU_ITEM_TEXT_COLOR:
        case B_PANEL_TEXT_COLOR:
        case B_DOCUMENT_TEXT_COLOR:
        case B_CONTROL_TEXT_COLOR:
            return {0, 0, 0, 255};
    }
    return {0, 0, 0, 255};
}
