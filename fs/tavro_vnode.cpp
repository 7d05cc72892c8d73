// tavro3: the kernel's vnode hooks: a record handed out, given back or removed, and a node
// opened on the device.
#include <cstdlib>
#include <cstring>
#include <new>

#include "tavro_nodes.h"
#include "tavro_rfsv.h"

void count_open(volume* vol, vnode* node, int32 change) {
    VolumeLock lock(vol);
    if (lock.held()) node->opens += change;
}

void place_append_handle(volume* vol, vnode* node, filecookie* cookie) {
    if (!cookie->append) return;
    VolumeLock lock(vol);
    if (!lock.held()) return;
    // The device opens an append at the end of the file.
    cookie->offset =
        node->stale || node->size > INT32_MAX ? kPositionUnknown : static_cast<int32>(node->size);
}

int32 open_node(volume* vol, vnode* node, int omode, const char* name) {
    if (!vol->connected.load()) return B_ENTRY_NOT_FOUND;
    char path[kPathBufferSize];
    VolumeLock lock(vol);
    if (!lock.held()) return B_BAD_SEM_ID;
    status_t status = find_path_locked(vol, node, path);
    bool directory = is_directory(node);
    lock.unlock();
    if (status != B_OK) return status;

    bool listing = directory && !(omode & B_O_CREAT);
    if (name != nullptr && (omode & B_O_CREAT)) {
        if (!is_device_name(name)) return B_BAD_VALUE;
        status = append_path(path, name);
    }
    if (listing) status = append_path(path, "*.*");
    if (status != B_OK) return status;

    bool creating = name != nullptr && (omode & B_O_CREAT);
    int32 handle =
        psion_open(vol, creating ? create_mode_word(omode) : open_mode_word(omode, listing), path);
    // An existing file opened in replace mode is empty now; after a replace-mode open of
    // unknown outcome it may be, and its size is asked of the device again.
    bool replace = name == nullptr && !listing && (omode & (B_O_CREAT | B_O_TRUNC));
    if (replace && (handle >= 0 || outcome_unknown(handle))) {
        if (VolumeLock lock(vol); lock.held()) {
            if (handle >= 0)
                node->size = 0;
            else
                node->stale = 1;
        }
    }
    return handle;
}

int fs_read_vnode(void* ns, vnode_id vnid, char, void** out) {
    volume* vol = static_cast<volume*>(ns);
    if (vnid == 0) return B_NO_MEMORY;
    vnode* node = node_of(vnid);
    VolumeLock lock(vol);
    if (!lock.held()) return B_BAD_SEM_ID;
    if (!node_is_live_locked(vol, node) || node->removed) {
        return B_ENTRY_NOT_FOUND;
    }
    node->published = 1;
    lock.unlock();
    *out = node;
    return B_OK;
}

namespace {

// Unlists a record the kernel let go and frees it, unless it is the root or records below it
// still need it; a removed directory above that nothing needs any more goes with it.
void drop_record_locked(volume* vol, vnode* node) {
    int64 parent = node->parent;
    unlist_node_locked(vol, node);
    if (node->children != nullptr || node == vol->root) return;
    free_node_locked(vol, node);
    if (parent != 0) release_orphans_locked(vol, node_of(parent));
}

}  // namespace

// The volume lock is taken even when the kernel calls re-entrantly: this file system never
// holds it across a call into the kernel, so the call cannot come from under it.
int fs_write_vnode(void* ns, void* vnode_, char) {
    volume* vol = static_cast<volume*>(ns);
    vnode* node = static_cast<vnode*>(vnode_);
    if (node == nullptr) return B_ENTRY_NOT_FOUND;
    VolumeLock lock(vol);
    if (!lock.held()) return B_BAD_SEM_ID;
    node->published = 0;
    if (node == vol->root) {
        // The root lives, with its volume attributes, until unmount.
    } else if (is_directory(node)) {
        // Kept for the records below it; what users wrote to it goes with the kernel's copy.
        free_all_attr(node->attrs);
        node->attrs = nullptr;
    } else {
        drop_record_locked(vol, node);
    }
    return B_OK;
}

int fs_remove_vnode(void* ns, void* vnode_, char) {
    volume* vol = static_cast<volume*>(ns);
    vnode* node = static_cast<vnode*>(vnode_);
    if (node == nullptr) return B_ENTRY_NOT_FOUND;
    VolumeLock lock(vol);
    if (!lock.held()) return B_BAD_SEM_ID;
    node->published = 0;
    char path[kPathBufferSize];
    // An unlinked file that was open when it was unlinked was moved to a hidden name; it
    // leaves the device now, at its last reference. Everything else was deleted at unlink.
    // Nobody can reach the file any more, so a delete that fails costs only its space.
    if (!node->deleted && find_path_locked(vol, node, path) == B_OK && vol->connected.load())
        (void)psion_delete(vol, path);
    drop_record_locked(vol, node);
    return B_OK;
}

int fs_secure_vnode(void*, void* node) { return node == nullptr ? B_ENTRY_NOT_FOUND : B_OK; }

int fs_access(void*, void*, int) { return B_OK; }

int fs_readlink(void*, void*, char*, size_t*) { return B_BAD_VALUE; }

int fs_open(void* ns, void* vnode_, int omode, void** cookie) {
    volume* vol = static_cast<volume*>(ns);
    vnode* node = static_cast<vnode*>(vnode_);
    if (node == nullptr) return B_ENTRY_NOT_FOUND;
    if (!vol->connected.load()) {
        *cookie = nullptr;
        return B_ENTRY_NOT_FOUND;
    }
    // The node exists: an exclusive create must fail, and a create without O_TRUNC must not
    // empty it (the device's replace mode would).
    if ((omode & B_O_CREAT) && (omode & B_O_EXCL)) return B_FILE_EXISTS;
    filecookie* file = new (std::nothrow) filecookie{};
    if (file == nullptr) return B_NO_MEMORY;
    file->handle = open_node(vol, node, omode & ~B_O_CREAT, nullptr);
    if (file->handle < 0) {
        status_t status = file->handle;
        delete file;
        *cookie = nullptr;
        return status;
    }
    file->append = (omode & B_O_APPEND) != 0;
    count_open(vol, node, 1);
    place_append_handle(vol, node, file);
    *cookie = file;
    return B_OK;
}
