// Where an installed vantrel finds its add-ons and puts its drives, when the command line does
// not say: everything relative to the executable, so an installed tree and a build tree both
// work without options.
//
//   installed:   <prefix>/bin/vantrel, <prefix>/lib/tavro/add-ons/{clients,file_systems}
//   build tree:  <build>/bin/vantrel,  <build>/add-ons/{clients,file_systems}
#pragma once

#include <string>

#include "host/AddOn.h"
#include "host/HostOptions.h"
#include "host/MountClientSettings.h"

namespace vantrel {

// The folder holding the running executable, or "" when it cannot be told.
std::string ExecutableFolder();

// The add-on folder of one kind ("clients", "file_systems") beside `executableFolder`: the
// installed layout first, then the build tree's; "" when neither exists.
std::string DefaultAddOnFolder(const std::string& executableFolder, const std::string& kind);

// The mount root of a user other than root who names none: $XDG_RUNTIME_DIR/psion when that
// folder is an absolute path the user can write to, else $XDG_DATA_HOME/psion, else
// ~/.local/share/psion; "" when nothing fits. (Relative XDG values are ignored, as the XDG
// conventions ask.) Root gets "" too: the mount client's own default (/mnt/psion) holds.
std::string DefaultMountRoot(bool root, const char* runtimeDir, const char* dataHome,
                             const char* home);

// DefaultMountRoot for the running user and environment, or "" when the saved settings in
// `settingsFolder` name a mount root (which then holds).
std::string UserDefaultMountRoot(const std::string& settingsFolder);

// Fills in what the command line left open: the client add-ons (none named: the installed
// ones), the file-system add-on path (TAVRO_FS_ADDON_PATH unset: the installed ones) and, for a
// user other than root with no saved mount root, the mount root.
void ApplyInstallDefaults(HostOptions& options);

}  // namespace vantrel
