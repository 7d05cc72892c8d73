// tavro3: bringing a node's status up to date from the device: on request, and before a stale
// node's status is next reported.
//
// A node keeps the size and time the device last reported (lookup or listing). Programs that
// cache file contents on the host ask for a fresh status before they trust their copy; one
// FINFO answers, and none is sent while the node's status is younger than the caller allows.
#include <cstring>

#include "platform/ByteOrder.h"
#include "tavro.h"
#include "tavro_rfsv.h"

namespace {

[[nodiscard]] status_t refresh_status(volume* vol, vnode* node, bigtime_t max_age) {
    char path[kPathBufferSize];
    VolumeLock lock(vol);
    if (!lock.held()) return B_BAD_SEM_ID;
    if (!node_is_live_locked(vol, node) || node->removed) {
        return B_ENTRY_NOT_FOUND;
    }
    // Directories change their status with every listing; only files are asked for.
    bool fresh = (node->mode & B_S_IFDIR) != 0 || system_time() - node->info_time <= max_age;
    status_t status = fresh ? B_OK : find_path_locked(vol, node, path);
    lock.unlock();
    if (fresh || status != B_OK) return status;
    if (!vol->connected.load()) return B_IO_ERROR;

    uint8 header[RFSV_ENTRY_HEADER_SIZE];
    status = psion_finfo(vol, path, header);
    if (status != B_OK) return status;
    // The name now holds a directory: the file this node stood for is gone.
    if (entry_is_directory(header)) return B_ENTRY_NOT_FOUND;
    VolumeLock again(vol);
    if (!again.held()) return B_BAD_SEM_ID;
    if (node_is_live_locked(vol, node) && !node->removed) setup_vnode(node, header);
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

void refresh_stale_node(volume* vol, vnode* node) {
    VolumeLock lock(vol);
    if (!lock.held()) return;
    char path[kPathBufferSize];
    bool stale = node->stale && !node->removed && node != vol->root;
    bool ok = stale && find_path_locked(vol, node, path) == B_OK;
    bool directory = is_directory(node);
    lock.unlock();
    if (!ok) return;
    // A directory's own entry is asked for without its trailing separator.
    if (directory) path[strlen(path) - 1] = '\0';
    uint8 header[RFSV_ENTRY_HEADER_SIZE];
    if (psion_finfo(vol, path, header) != B_OK) return;
    VolumeLock again(vol);
    if (!again.held()) return;
    setup_vnode(node, header);
    node->stale = 0;
}
