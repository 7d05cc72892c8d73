// `vantrel [options] config [KEY=VALUE...]`: shows the mount client's settings and changes
// them. A change goes through the add-on's own settings view, made with its ConfigView export
// and worked as a user would work it (typing into its fields, ticking its check box), then
// closed, which is when the view writes the record; the host then saves the record. So what
// the view does is exactly what the command does.
//
// Keys: mount-root=PATH, debug=on|off, debug-file=PATH.
#pragma once

#include <string>
#include <vector>

#include "host/AddOn.h"
#include "host/MountClientSettings.h"
#include "platform/Errors.h"

namespace vantrel {

// Reads KEY=VALUE arguments; false (with `error`) for an unknown key or a bad value.
bool ParseSettingChanges(const std::vector<std::string>& arguments,
                         std::vector<SettingChange>& changes, std::string& error);

// The whole command. `arguments` are those after "config"; the add-ons are those of
// addOnFolder/addOnFiles (or, with neither, the client add-on folder beside the program).
// Prints the settings on standard output; returns the process exit code.
int RunConfigCommand(const std::vector<std::string>& arguments, const std::string& addOnFolder,
                     const std::vector<std::string>& addOnFiles, const std::string& settingsFolder);

}  // namespace vantrel
