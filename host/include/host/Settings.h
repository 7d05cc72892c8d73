// Settings that outlast a run of the host: the mount client keeps its configuration (debug
// switch, debug file, mount root) only in memory, so the host saves it to a small text file and
// puts it back after the add-on's Initialise, both through the add-on's settings view
// (host/MountClientSettings.h).
//
// The file is <folder>/<add-on name>.conf, one "key=value" per line:
//   debug=on|off
//   debug-file=PATH
//   mount-root=PATH
// Lines starting with "#" and blank lines are skipped; a line that cannot be taken (no "=", an
// unknown key or value, a NUL byte, a value that does not fit) is skipped with a warning that
// names it, and a line ending in "\r\n" is read without the "\r", with a warning too. In values,
// "\" is written "\\", a line break "\n" and other control characters "\xHH", so that any
// path survives and nothing raw reaches a terminal. Values never exceed the record's
// kMaxSettingPath bytes.
#pragma once

#include <string>
#include <vector>

#include "host/AddOn.h"
#include "host/MountClientSettings.h"
#include "platform/Errors.h"

namespace vantrel {

// The settings folder of this user: $XDG_CONFIG_HOME/tavro, else $HOME/.config/tavro; empty
// when neither variable is set.
std::string DefaultSettingsFolder();

// Text safe to show on a terminal: "\" doubled, control characters escaped.
std::string Escape(const std::string& text);
// on/yes/true/1 or off/no/false/0; false for anything else.
bool ParseSwitchWord(const std::string& text, bool& on);

// <folder>/<add-on name>.conf
std::string SettingsFile(const std::string& folder, const std::string& addOnName);
std::string SettingsFile(const std::string& folder, const AddOn& addOn);

// Reads the add-on's file into its settings; keys the file lacks, and lines it skips, keep
// their values. B_ENTRY_NOT_FOUND when there is no file, B_NAME_NOT_FOUND when the add-on has
// no settings view; when the file cannot be read (B_PERMISSION_DENIED, B_IS_A_DIRECTORY, ...)
// nothing is changed. `warnings` gets one "line N: ..." text per line skipped or mended.
[[nodiscard]] status_t LoadSettings(const AddOn& addOn, const std::string& folder,
                                    std::vector<std::string>* warnings = nullptr);

// Writes the add-on's settings to its file, making the folder when needed. The file is replaced
// in one step from a temporary file of this writer's own, so a reader never sees half of it and
// of writers at the same time the last one wins.
[[nodiscard]] status_t SaveSettings(const AddOn& addOn, const std::string& folder);

}  // namespace vantrel
