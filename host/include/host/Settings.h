// Settings that outlast a run of the host: the mount client keeps its configuration (debug
// switch, debug file, mount root) only in memory, in its `configs` record, so the host saves
// that record to a small text file and puts it back after the add-on's Initialise.
//
// The file is <folder>/<add-on name>.conf, one "key=value" per line:
//   debug=on|off
//   debug-file=PATH
//   mount-root=PATH
// Lines starting with "#", blank lines and unknown keys are skipped. In values, "\" is written
// "\\" and a line break "\n", so that any path survives. A value longer than the record's
// 255 bytes is cut there (never inside a UTF-8 character).
#pragma once

#include <string>

#include "host/AddOn.h"
#include "platform/Errors.h"

namespace vantrel {

// The settings folder of this user: $XDG_CONFIG_HOME/tavro, else $HOME/.config/tavro; empty
// when neither variable is set.
std::string DefaultSettingsFolder();

std::string SettingsFile(const std::string& folder, const AddOn& addOn);

// True when the add-on keeps its settings in a `configs` record (the mount client does).
bool HasSettings(const AddOn& addOn);

// Reads the add-on's file into its `configs`; keys the file lacks keep their values.
// B_ENTRY_NOT_FOUND when there is no file, B_NAME_NOT_FOUND when the add-on has no `configs`.
[[nodiscard]] status_t LoadSettings(const AddOn& addOn, const std::string& folder);

// Writes `configs` to the add-on's file, making the folder when needed. The file is replaced
// in one step, so a reader never sees half of it.
[[nodiscard]] status_t SaveSettings(const AddOn& addOn, const std::string& folder);

// The settings of `configs` as the file would hold them (without the comment).
std::string DescribeSettings(const AddOn& addOn);

}  // namespace vantrel
