// The mount client's settings (debug switch, debug file, mount root) live in a record of its
// own that it does not export. The host reaches them the way a user does, through the add-on's
// settings view (its ConfigView export): it reads what the view's fields show, and makes
// changes by typing into the fields and ticking the check box, then closing the view, which is
// when the view writes the record.
#pragma once

#include <string>
#include <vector>

#include "host/AddOn.h"
#include "platform/Errors.h"

namespace vantrel {

struct SettingChange {
    std::string key;  // mount-root, debug (on|off ...), debug-file
    std::string value;
};

struct ClientSettings {
    bool debug = false;
    std::string debugFile;
    std::string mountRoot;
};

// Reads the settings the add-on's view shows. B_BAD_VALUE (with `error`) when the add-on has no
// view or its view lacks one of the three controls.
[[nodiscard]] status_t ReadThroughConfigView(const AddOn& addOn, ClientSettings& settings,
                                             std::string& error);

// Opens the add-on's view in a window, makes the changes in it and closes it. B_BAD_VALUE
// (with `error`) when the add-on has no view or the view lacks a control a change needs.
[[nodiscard]] status_t ApplyThroughConfigView(const AddOn& addOn,
                                              const std::vector<SettingChange>& changes,
                                              std::string& error);

}  // namespace vantrel
