// `mnt`, the 408-byte mount parameter block the mount client hands to a file system through
// mount(). It tells the file system how to reach the device over the connection the client has
// opened. Little-endian; a file system reads it at the offsets below, never by casting, so its
// alignment does not matter.
#pragma once

#include <cstddef>
#include <cstring>

#include "platform/ByteOrder.h"
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

namespace mnt_offset {
constexpr size_t mounted = offsetof(mnt, mounted);
constexpr size_t writePort = offsetof(mnt, writePort);
constexpr size_t readPort = offsetof(mnt, readPort);
constexpr size_t channel = offsetof(mnt, channel);
constexpr size_t sem = offsetof(mnt, sem);
constexpr size_t device = offsetof(mnt, device);
constexpr size_t path = offsetof(mnt, path);
constexpr size_t debugFile = offsetof(mnt, debugFile);
constexpr size_t next = offsetof(mnt, next);
}  // namespace mnt_offset

static_assert(sizeof(mnt) == MNT_BLOCK_SIZE);
static_assert(mnt_offset::writePort == 4);
static_assert(mnt_offset::readPort == 8);
static_assert(mnt_offset::channel == 12);
static_assert(mnt_offset::sem == 16);
static_assert(mnt_offset::device == 20);
static_assert(mnt_offset::path == 148);
static_assert(mnt_offset::debugFile == 276);
static_assert(mnt_offset::next == 404);

// Writes a whole block into `out` (MNT_BLOCK_SIZE bytes): every byte not named is zero, and a
// text longer than its field is cut to leave room for the NUL.
inline void build_mnt(uint8* out, int32 writePort, int32 readPort, uint16 channel, int32 sem,
                      const char* device, const char* path = "", const char* debugFile = "") {
    memset(out, 0, MNT_BLOCK_SIZE);
    LongToBytes(static_cast<uint32>(writePort), out + mnt_offset::writePort);
    LongToBytes(static_cast<uint32>(readPort), out + mnt_offset::readPort);
    WordToBytes(channel, out + mnt_offset::channel);
    LongToBytes(static_cast<uint32>(sem), out + mnt_offset::sem);
    const struct {
        const char* text;
        size_t offset;
    } texts[] = {
        {device, mnt_offset::device}, {path, mnt_offset::path}, {debugFile, mnt_offset::debugFile}};
    for (const auto& field : texts) {
        if (field.text != nullptr)
            memcpy(out + field.offset, field.text, strnlen(field.text, MNT_NAME_LENGTH - 1));
    }
}
