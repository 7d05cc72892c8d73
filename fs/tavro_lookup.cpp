// tavro3: name lookup. A name the index does not hold is asked of the device (FINFO), and a
// node found is handed to the kernel with a reference taken on the record that bears the name.
#include <cstdlib>
#include <cstring>

#include "tavro_nodes.h"
#include "tavro_rfsv.h"

namespace {

// How often a lookup is repeated when the node it found was released before the kernel took a
// reference on it.
constexpr int kPublishAttempts = 4;

// The node of the directory above `dir`; null, with the volume's id, above the root.
vnode* parent_of(volume* vol, vnode* dir, vnode_id* id) {
    VolumeLock lock(vol);
    if (!lock.held()) return nullptr;
    int64 parent = dir->parent;
    lock.unlock();
    if (parent == 0) {
        *id = vol->nsid;
        return nullptr;
    }
    *id = parent;
    return node_of(parent);
}

// A lookup's answer from a node the index holds: none for a node that was unlinked.
vnode* known_node_locked(vnode* found, vnode_id* id) {
    if (found->removed) return nullptr;
    *id = found->vnid;
    return found;
}

// FINFO of a path the lookup did not know. A path the device says is gone loses its number: a
// later entry of that name is another.
[[nodiscard]] status_t ask_entry(volume* vol, const char* path, uint8* header) {
    status_t status = psion_finfo(vol, path, header);
    if (status == B_ENTRY_NOT_FOUND) {
        VolumeLock lock(vol);
        if (lock.held()) drop_numbers_locked(vol, path);
    }
    return status;
}

// Enters a record just made for `path` into the index and returns the node that bears its name
// now. Another thread may have made the same node while this one asked the device, or the
// index may hold a record forgotten after a request of unknown outcome: the older record is
// kept and `node` freed.
vnode* index_node(volume* vol, vnode* dir, vnode_id dirid, const char* path, vnode* node,
                  const uint8* entry, vnode_id* id) {
    VolumeLock lock(vol);
    if (!lock.held()) {
        free_node(node);
        return nullptr;
    }
    vnode* found = find_name_locked(vol, dirid, node->name);
    if (found != nullptr) {
        found = known_node_locked(found, id);
        lock.unlock();
        free_node(node);
        return found;
    }
    std::string key = fold(path);
    auto numbered = vol->index->numbers.find(key);
    if (numbered != vol->index->numbers.end()) {
        vnode* holder = node_of(numbered->second);
        if (holder != nullptr && node_is_live_locked(vol, holder) && !holder->removed &&
            holder->parent == dirid) {
            // The record was forgotten after a request whose effect was unknown, and the
            // device has the entry where it was: it is the same one.
            setup_vnode(holder, entry);
            holder->stale = 0;
            vol->index->names[name_key(dirid, holder->name)] = holder;
            *id = holder->vnid;
            lock.unlock();
            free_node(node);
            return holder;
        }
        node->vnid = holder == nullptr ? numbered->second : new_node_id();
    } else {
        node->vnid = new_node_id();
    }
    vol->index->numbers[key] = node->vnid;
    vol->index->live.insert(node);
    register_node(node);
    list_node_locked(vol, dir, node);
    *id = node->vnid;
    return node;
}

}  // namespace

vnode* search_vnode(volume* vol, vnode_id* id, vnode_id dirid, const char* name, const uint8* entry,
                    status_t* why) {
    status_t ignored;
    if (why == nullptr) why = &ignored;
    *why = B_ENTRY_NOT_FOUND;
    vnode* dir = node_of(dirid);

    if (strcmp(name, ".") == 0) {
        *id = dirid;
        return dir;
    }
    if (strcmp(name, "..") == 0) return parent_of(vol, dir, id);
    // Nothing a user names may reach another path on the device, or match other files.
    if (!is_device_name(name)) return nullptr;

    char path[kPathBufferSize];
    status_t status;
    {
        VolumeLock lock(vol);
        if (!lock.held()) return nullptr;
        vnode* found = find_name_locked(vol, dirid, name);
        if (found != nullptr) {
            if (entry != nullptr) {
                setup_vnode(found, entry);
                found->stale = 0;
            }
            return known_node_locked(found, id);
        }
        status = find_path_locked(vol, dir, path);
    }
    if (status == B_OK) status = append_path(path, name);
    if (entry == nullptr && !vol->connected.load()) {
        *why = B_IO_ERROR;  // a name not known here cannot be looked up without the link
        return nullptr;
    }
    if (status != B_OK) {
        *why = status;
        return nullptr;
    }

    uint8 header[RFSV_ENTRY_HEADER_SIZE];
    if (entry == nullptr) {
        status = ask_entry(vol, path, header);
        if (status != B_OK) {
            *why = status;
            return nullptr;
        }
        entry = header;
    }

    vnode* node = new_node(name);
    if (node == nullptr) {
        *why = B_NO_MEMORY;
        return nullptr;
    }
    setup_vnode(node, entry);
    // A file whose type attribute could not be written is still the file.
    (void)set_mime_type(vol, node);
    return index_node(vol, dir, dirid, path, node, entry, id);
}

status_t publish_node(volume* vol, vnode* node) {
    VolumeLock lock(vol);
    if (!lock.held()) return B_BAD_SEM_ID;
    if (!node_is_live_locked(vol, node)) return B_ENTRY_NOT_FOUND;
    bool published = node->published;
    node->published = 1;
    vnode_id id = node->vnid;
    lock.unlock();
    void* held;
    if (published) return get_vnode(vol->nsid, id, &held);
    if (new_vnode(vol->nsid, id, node) == B_OK) return B_OK;
    return get_vnode(vol->nsid, id, &held);
}

namespace {

// Takes a kernel reference on a node that a lookup returned: the node when the reference is
// held on the one that bears the name, otherwise null.
vnode* take_reference(volume* vol, vnode* found, vnode_id dirid, const char* name, vnode_id id,
                      NodeUse use) {
    if (use == NodeUse::kCreated) return publish_node(vol, found) == B_OK ? found : nullptr;
    void* node;
    if (get_vnode(vol->nsid, id, &node) != B_OK) return nullptr;
    // The record may have been released and its address reused by another node since the
    // lookup: only the node that still bears the name will do.
    bool same = strcmp(name, ".") == 0 || strcmp(name, "..") == 0;
    if (!same) {
        VolumeLock lock(vol);
        same = lock.held() && lookup_name_locked(vol, dirid, name) == node;
    }
    // A reference on the wrong node goes straight back; nothing was changed through it.
    if (!same) release_node(vol, id);
    return same ? static_cast<vnode*>(node) : nullptr;
}

}  // namespace

// The record may have been released between the lookup and the kernel's reference; the
// lookup is then repeated.
status_t get_named_node(volume* vol, vnode_id dirid, const char* name, vnode_id* id, NodeUse use,
                        vnode** node) {
    status_t why = B_ENTRY_NOT_FOUND;
    for (int attempt = 0; attempt < kPublishAttempts; attempt++) {
        vnode* found = search_vnode(vol, id, dirid, name, nullptr, &why);
        if (found == nullptr) return why;
        if (use == NodeUse::kWalk && !vol->connected.load()) return B_NOT_ALLOWED;
        vnode* held = take_reference(vol, found, dirid, name, *id, use);
        if (held != nullptr) {
            if (node != nullptr) *node = held;
            return B_OK;
        }
    }
    return B_BAD_VALUE;
}

int fs_walk(void* ns, void* dir, const char* name, char**, vnode_id* vnid) {
    volume* vol = static_cast<volume*>(ns);
    if (dir == nullptr) return B_ENTRY_NOT_FOUND;
    return get_named_node(vol, static_cast<vnode*>(dir)->vnid, name, vnid, NodeUse::kWalk);
}
