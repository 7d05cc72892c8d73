// The parts of a configuration view, found by name as a user of the kit would find them.
#pragma once

#include "kits/Box.h"
#include "kits/Button.h"
#include "kits/CheckBox.h"
#include "kits/TextControl.h"

struct Parts {
    explicit Parts(BView* view)
        : mountPoint(dynamic_cast<BTextControl*>(view->FindView("Mountpoint:"))),
          box(dynamic_cast<BBox*>(view->FindView("Settings"))),
          check(dynamic_cast<BCheckBox*>(view->FindView("Debug"))),
          button(dynamic_cast<BButton*>(view->FindView("DebugFileButton"))),
          debugFile(dynamic_cast<BTextControl*>(view->FindView("DebugFile:"))) {}
    bool Complete() const { return mountPoint && box && check && button && debugFile; }

    BTextControl* mountPoint;
    BBox* box;
    BCheckBox* check;
    BButton* button;
    BTextControl* debugFile;
};
