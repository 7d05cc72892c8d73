// Everything the host knows of the mount client's configuration record: its three settings
// (debug switch, debug file, mount root), their keys in the settings file and on the `config`
// command line, how long a value the record holds, and how to read and change them.
//
// The record is the mount client's own and it does not export it. The host reaches it the way
// a user does, through the add-on's settings view (its ConfigView export): it reads what the
// view's fields show, and makes changes by typing into the fields and ticking the check box,
// then closing the view, which is when the view writes the record.
#pragma once

#include <string>
#include <vector>

#include "host/AddOn.h"
#include "platform/Errors.h"

namespace vantrel {

// The mount client's add-on name; its settings file is named after it.
constexpr char kMountClientName[] = "tavro-mount";

// The keys of the three settings.
constexpr char kMountRootKey[] = "mount-root";
constexpr char kDebugKey[] = "debug";  // on|off (ParseSwitchWord's words)
constexpr char kDebugFileKey[] = "debug-file";

// The longest path the record holds (its fields keep a NUL behind it).
constexpr size_t kMaxSettingPath = 255;

struct SettingChange {
    std::string key;  // one of the keys above
    std::string value;
};

struct ClientSettings {
    bool debug = false;
    std::string debugFile;
    std::string mountRoot;
};

// Why a value cannot be taken, or "" when it can. A mount root is absolute, not "/" and fits; a
// debug file is empty (none) or absolute and fits.
std::string CheckMountRoot(const std::string& root);
std::string CheckDebugFile(const std::string& path);
// The same for KEY=VALUE of the settings file and the `config` command.
std::string CheckSetting(const std::string& key, const std::string& value);

// True when the add-on has a settings view with the three settings (the mount client does).
bool HasSettings(const AddOn& addOn);

// Reads the settings the add-on's view shows. B_BAD_VALUE (with `error`) when the add-on has no
// view or its view lacks one of the three controls.
[[nodiscard]] status_t ReadThroughConfigView(const AddOn& addOn, ClientSettings& settings,
                                             std::string& error);

// Opens the add-on's view in a window, makes the changes in it and closes it. B_BAD_VALUE
// (with `error`) when the add-on has no view or the view lacks a control a change needs.
[[nodiscard]] status_t ApplyThroughConfigView(const AddOn& addOn,
                                              const std::vector<SettingChange>& changes,
                                              std::string& error);

// Puts a mount root into an add-on's settings (the mount client's) through its settings view;
// nothing for an add-on without one.
void SetConfiguredMountRoot(const AddOn& addOn, const std::string& mountRoot);

// The add-on's settings as KEY=VALUE lines, values escaped (Escape); "" without settings.
std::string DescribeSettings(const AddOn& addOn);

// Whether the mount client's saved settings in `settingsFolder` name a mount root.
bool SavedMountRoot(const std::string& settingsFolder);

}  // namespace vantrel
