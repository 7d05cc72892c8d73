// tavro3: bringing a file's status up to date from the device on request.
//
// A node keeps the size and time the device last reported (lookup or listing). Programs that
// cache file contents on the host ask for a fresh status before they trust their copy; one
// FINFO answers, and none is sent while the node's status is younger than the caller allows.
#include <cstring>

#include "platform/ByteOrder.h"
#include "tavro.h"
#include "tavro_rfsv.h"

namespace {

status_t refresh_status(volume* vol, vnode* node, bigtime_t max_age) {
    char path[kPathBufferSize];
    if (lock_volume(vol) != B_OK) return B_BAD_SEM_ID;
    if (!node_is_live_locked(vol, node) || node->removed) {
        unlock_volume(vol);
        return B_ENTRY_NOT_FOUND;
    }
    // Directories change their status with every listing; only files are asked for.
    bool fresh = (node->mode & B_S_IFDIR) != 0 || system_time() - node->info_time <= max_age;
    status_t status = fresh ? B_OK : find_path_locked(vol, node, path);
    unlock_volume(vol);
    if (fresh || status != B_OK) return status;
    if (!vol->connected.load()) return B_IO_ERROR;

    uint8 header[RFSV_ENTRY_HEADER_SIZE];
    status = psion_finfo(vol, path, header);
    if (status != B_OK) return status;
    // The name now holds a directory: the file this node stood for is gone.
    if (BytesToUword(header + RFSV_ENTRY_ATTRIBUTES) & RFSV_ATTR_DIRECTORY) return B_ENTRY_NOT_FOUND;
    if (lock_volume(vol) != B_OK) return B_BAD_SEM_ID;
    if (node_is_live_locked(vol, node) && !node->removed) setup_vnode(node, header);
    unlock_volume(vol);
    return B_OK;
}

}  // namespace

int tavro_ioctl(void* ns, void* node, void*, int cmd, void* buf, size_t len) {
    volume* vol = static_cast<volume*>(ns);
    if (node == nullptr) return B_ENTRY_NOT_FOUND;
    if (cmd != B_IOCTL_REFRESH_STAT) return B_BAD_VALUE;
    bigtime_t max_age = 0;
    if (buf != nullptr && len >= sizeof max_age) memcpy(&max_age, buf, sizeof max_age);
    return refresh_status(vol, static_cast<vnode*>(node), max_age);
}
