// The client's list of mounts. The block itself, `mnt`, is the platform's.
#pragma once

#include "platform/MountBlock.h"

// One entry of the client's list of mounts: a heap copy of the block and the link to the next.
struct MountRecord {
    mnt block;
    MountRecord* next;
    bool madeMountPoint = false;  // the client made the directory: it removes it again
};
