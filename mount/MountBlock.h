// `mnt`, the 408-byte mount parameter block handed to the file system through mount(). It
// tells the file system how to reach the device over the connection the client has opened.
#pragma once

#include <cstddef>

#include "platform/OS.h"
#include "platform/SupportDefs.h"

#define MNT_NAME_LENGTH 128  // device, path and debugFile: 127 characters and a NUL each
#define MNT_BLOCK_SIZE 408

struct mnt {
    uint8 mounted;  // 1 while the client holds the volume mounted
    uint8 padding1[3];
    int32 writePort;  // "WritePsion"
    int32 readPort;   // the connection's reply port
    uint16 channel;
    uint8 padding2[2];
    int32 sem;  // the connection's transport semaphore
    char device[MNT_NAME_LENGTH];
    char path[MNT_NAME_LENGTH];
    char debugFile[MNT_NAME_LENGTH];  // empty: no debug file
    // Four bytes cannot hold a pointer on this platform: the client keeps its list link in
    // the record around the block and leaves these bytes zero.
    uint8 next[4];
};

static_assert(sizeof(mnt) == MNT_BLOCK_SIZE);
static_assert(offsetof(mnt, writePort) == 4);
static_assert(offsetof(mnt, readPort) == 8);
static_assert(offsetof(mnt, channel) == 12);
static_assert(offsetof(mnt, sem) == 16);
static_assert(offsetof(mnt, device) == 20);
static_assert(offsetof(mnt, path) == 148);
static_assert(offsetof(mnt, debugFile) == 276);
static_assert(offsetof(mnt, next) == 404);

// One entry of the client's list of mounts: a heap copy of the block and the link to the next.
struct MountRecord {
    mnt block;
    MountRecord* next;
    bool madeMountPoint = false;  // the client made the directory: it removes it again
};
