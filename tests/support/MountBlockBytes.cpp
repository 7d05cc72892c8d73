#include "MountBlockBytes.h"

#include "platform/MountBlock.h"

static_assert(sizeof(MountBlockBytes) == MNT_BLOCK_SIZE);

MountBlockBytes MakeMountBlock(port_id writePort, port_id readPort, uint16 channel, sem_id sem,
                               const char* device, const char* path, const char* debugFile) {
    MountBlockBytes block;
    build_mnt(block.data(), writePort, readPort, channel, sem, device, path, debugFile);
    block[mnt_offset::mounted] = 1;
    return block;
}
