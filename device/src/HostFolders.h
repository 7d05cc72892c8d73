// What the simulated drives need to know of the host folders behind them.
#pragma once

#include <string>

#include "device/DriveSetup.h"

namespace handheld {

// The bytes the regular files below `path` hold, at any depth.
uint64 FolderBytes(const std::string& path);
// What is left of the drive's capacity after the files in its folder.
uint32 FreeBytes(const DriveSetup& drive);

}  // namespace handheld
