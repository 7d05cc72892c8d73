// The 408-byte mount parameter block as a value, for mounting a file system by hand. (The
// layout lives in platform/MountBlock.h; only the source file includes it, so that a test may
// also include a file system's own headers.)
#pragma once

#include <array>

#include "platform/OS.h"

using MountBlockBytes = std::array<uint8, 408>;

// A block marked mounted, as the mount client hands it over.
MountBlockBytes MakeMountBlock(port_id writePort, port_id readPort, uint16 channel, sem_id sem,
                               const char* device, const char* path = "",
                               const char* debugFile = "");
