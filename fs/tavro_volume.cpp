// tavro3: mounting a volume from the mount parameter block, unmounting it, and its figures.
#include <cstdlib>
#include <cstring>
#include <new>

#include "debug.h"
#include "platform/ByteOrder.h"
#include "tavro_nodes.h"
#include "tavro_rfsv.h"

namespace {

constexpr uint32 kRootMode = B_S_IFDIR | 0777;
// How long a request waits for its reply's size, then for the reply itself.
constexpr bigtime_t kSizeTimeout = 3000000;
constexpr bigtime_t kReplyTimeout = 10000000;

}  // namespace

namespace {

int32 block_long(const uint8* block, size_t offset) {
    return static_cast<int32>(BytesToUlong(block + offset));
}

void block_string(const uint8* block, size_t offset, char* out, size_t size) {
    size_t length = strnlen(reinterpret_cast<const char*>(block + offset), size - 1);
    memcpy(out, block + offset, length);
    out[length] = '\0';
}

void free_volume(volume* vol) {
    if (vol->index != nullptr) {
        for (vnode* node : vol->index->live) {
            unregister_node(node);
            free_node(node);
        }
        delete vol->index;
    }
    if (vol->lock >= 0) delete_sem(vol->lock);
    delete vol->info;
    delete vol;
}

}  // namespace

int fs_mount(nspace_id nsid, const char*, unsigned long, void* parms, size_t len, void** ns,
             vnode_id* rootid) {
    if (parms == nullptr || len < MNT_BLOCK_SIZE) return B_BAD_VALUE;
    const uint8* block = static_cast<const uint8*>(parms);
    int32 writePort = block_long(block, mnt_offset::writePort);
    int32 readPort = block_long(block, mnt_offset::readPort);
    if (writePort < 0 || readPort < 0) return B_BAD_VALUE;

    volume* vol = new (std::nothrow) volume{};
    if (vol == nullptr) return B_NO_MEMORY;
    vol->lock = -1;
    vol->nsid = nsid;
    vol->writePort = writePort;
    vol->readPort = readPort;
    vol->channel = BytesToUword(block + mnt_offset::channel);
    vol->sem = block_long(block, mnt_offset::sem);
    block_string(block, mnt_offset::device, vol->device, sizeof vol->device);
    vol->sizeTimeout = kSizeTimeout;
    vol->replyTimeout = kReplyTimeout;
    vol->index = new (std::nothrow) NodeIndex;
    vol->lock = create_sem(1, "PSION Device");
    if (vol->index == nullptr || vol->lock < 0) {
        free_volume(vol);
        return B_NO_MEMORY;
    }
    vol->connected.store(1);

    char debugFile[MNT_NAME_LENGTH];
    block_string(block, mnt_offset::debugFile, debugFile, sizeof debugFile);
    set_debug_file(debugFile);

    vnode* root = new_node("\\");
    if (root == nullptr) {
        free_volume(vol);
        return B_NO_MEMORY;
    }
    root->mode = kRootMode;
    root->vnid = new_node_id();
    vol->root = root;
    vol->index->live.insert(root);
    register_node(root);
    if (write_volume_attrs(vol, root) != B_OK || new_vnode(nsid, root->vnid, root) != B_OK) {
        free_volume(vol);
        return B_BAD_VALUE;
    }
    root->published = 1;
    attach_handle_book(vol);
    *ns = vol;
    *rootid = root->vnid;
    return B_OK;
}

int fs_unmount(void* ns) {
    detach_handle_book(static_cast<volume*>(ns));
    free_volume(static_cast<volume*>(ns));
    return B_OK;
}

status_t check_writable(volume* vol) {
    uint8 media = vol->media.load();
    if (media == kMediaUnknown) {
        device_info device;
        if (psion_deviceinfo(vol, &device) != B_OK) return B_OK;  // the device will tell
        media = is_read_only_media(device.media) ? kMediaReadOnly : kMediaWritable;
        vol->media.store(media);
    }
    return media == kMediaReadOnly ? B_READ_ONLY_DEVICE : B_OK;
}

// The figures are asked of the device each time, so that free space follows writes and
// deletes; the last answer stands in while the device cannot be asked.
int fs_rfsstat(void* ns, fs_info* out) {
    volume* vol = static_cast<volume*>(ns);
    device_info device;
    status_t asked = psion_deviceinfo(vol, &device);
    VolumeLock lock(vol);
    if (!lock.held()) return B_BAD_SEM_ID;
    if (asked == B_OK) {
        if (vol->info == nullptr) vol->info = new (std::nothrow) fs_info{};
        if (vol->info == nullptr) {
            return B_NO_MEMORY;
        }
        fs_info* info = vol->info;
        info->dev = vol->nsid;
        info->root = vol->root->vnid;
        info->flags = B_FS_HAS_ATTR | B_FS_HAS_MIME | B_FS_IS_PERSISTENT | B_FS_IS_REMOVABLE;
        bool readOnly = is_read_only_media(device.media);
        if (readOnly) info->flags |= B_FS_IS_READONLY;
        vol->media.store(readOnly ? kMediaReadOnly : kMediaWritable);
        info->block_size = 1;
        info->io_size = RFSV_MAX_READ_CHUNK;
        info->total_blocks = device.total;
        info->free_blocks = device.free;
        // The device keeps no node table; it can hold about one file per block it has free.
        constexpr uint32 kBlockBytes = 512;
        info->total_nodes = device.total / kBlockBytes;
        info->free_nodes = device.free / kBlockBytes;
        block_string(reinterpret_cast<const uint8*>(vol->device), 0, info->device_name,
                     sizeof info->device_name);
        memcpy(info->volume_name, device.volume_name, sizeof info->volume_name);
        strcpy(info->fsh_name, "tavro3");
    }
    if (vol->info == nullptr) {
        return asked;
    }
    *out = *vol->info;
    return B_OK;
}
