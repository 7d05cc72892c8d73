// tavro5: mount, node records, lookup and the kernel's vnode hooks.
#include "tavro5.h"

#include <cctype>
#include <cstring>
#include <new>

#include "epoc_text.h"
#include "platform/ByteOrder.h"
#include "platform/HostProtocol.h"
#include "tavro5_debug.h"

namespace tavro5 {

namespace {

constexpr int kPublishAttempts = 4;
constexpr const char* kVolumeType = "application/x-vnd.zk.psion-volume";

void drop_node_locked(volume* vol, node* n) {
    forget_name_locked(vol, n);
    vol->nodes.erase(n->id);
    if (n->parent != 0) {
        node* parent = find_node_locked(vol, n->parent);
        if (parent != nullptr) parent->children--;
    }
    delete n;
}

}  // namespace

std::string name_key(vnode_id parent, const std::string& wire) {
    std::string key(reinterpret_cast<const char*>(&parent), sizeof parent);
    return key + epoc::fold_case(wire);
}

node* find_node_locked(volume* vol, vnode_id id) {
    auto found = vol->nodes.find(id);
    return found == vol->nodes.end() ? nullptr : found->second;
}

node* find_name_locked(volume* vol, vnode_id parent, const std::string& wire) {
    auto found = vol->names.find(name_key(parent, wire));
    return found == vol->names.end() ? nullptr : find_node_locked(vol, found->second);
}

void forget_name_locked(volume* vol, node* n) {
    if (!n->named) return;
    auto found = vol->names.find(name_key(n->parent, n->wire));
    if (found != vol->names.end() && found->second == n->id) vol->names.erase(found);
    n->named = false;
}

void name_node_locked(volume* vol, node* n) {
    // A name that already has a node leaves the older node unnamed: it is gone or stale.
    node* older = find_name_locked(vol, n->parent, n->wire);
    if (older != nullptr && older != n) older->named = false;
    vol->names[name_key(n->parent, n->wire)] = n->id;
    n->named = true;
}

status_t path_locked(volume* vol, const node* n, std::string* path) {
    std::vector<const node*> chain;
    for (const node* at = n; at != nullptr && at->parent != 0;
         at = find_node_locked(vol, at->parent)) {
        chain.push_back(at);
        if (chain.size() > epoc::kMaxPath) return B_NAME_TOO_LONG;
    }
    *path = std::string(1, vol->drive) + ":";
    for (auto at = chain.rbegin(); at != chain.rend(); ++at) {
        *path += '\\';
        *path += (*at)->wire;
    }
    return path->size() <= epoc::kMaxPath ? B_OK : B_NAME_TOO_LONG;
}

status_t child_path(volume* vol, const node* dir, const std::string& wire, std::string* path) {
    std::lock_guard<std::mutex> hold(vol->lock);
    status_t status = path_locked(vol, dir, path);
    if (status != B_OK) return status;
    *path += '\\';
    *path += wire;
    return path->size() <= epoc::kMaxPath ? B_OK : B_NAME_TOO_LONG;
}

void apply_entry_locked(node* n, const epoc::dir_entry& entry) {
    n->attributes = entry.attributes;
    n->size = entry.size;
    n->modified = entry.modified;
    memcpy(n->uid, entry.uid, sizeof n->uid);
    n->stale = false;
}

node* node_for_entry(volume* vol, node* dir, const epoc::dir_entry& entry, vnode_id* id) {
    std::string wire(reinterpret_cast<const char*>(entry.long_name), entry.long_length);
    std::lock_guard<std::mutex> hold(vol->lock);
    node* n = find_name_locked(vol, dir->id, wire);
    if (n != nullptr) {
        // A directory that became a file (or back) under the same name is another node.
        if (n->directory() != ((entry.attributes & epoc::kAttrDirectory) != 0)) {
            forget_name_locked(vol, n);
            n = nullptr;
        } else {
            apply_entry_locked(n, entry);
            // The handheld may have changed the name's case.
            n->wire = wire;
            n->name = epoc::wire_to_utf8(entry.long_name, entry.long_length);
        }
    }
    if (n == nullptr) {
        n = new (std::nothrow) node{};
        if (n == nullptr) return nullptr;
        n->is_directory = (entry.attributes & epoc::kAttrDirectory) != 0;
        n->id = ++vol->next_id;
        n->parent = dir->id;
        n->wire = wire;
        n->name = epoc::wire_to_utf8(entry.long_name, entry.long_length);
        apply_entry_locked(n, entry);
        set_type_locked(n);
        vol->nodes[n->id] = n;
        dir->children++;
        name_node_locked(vol, n);
    }
    *id = n->id;
    return n;
}

status_t publish(volume* vol, vnode_id id, node** out) {
    void* held = nullptr;
    status_t status = get_vnode(vol->nsid, id, &held);
    if (status != B_OK) return status;
    *out = static_cast<node*>(held);
    return B_OK;
}

status_t get_named_node(volume* vol, node* dir, const char* name, vnode_id* id, node** out) {
    if (!dir->directory()) return B_NOT_A_DIRECTORY;
    if (strcmp(name, ".") == 0) {
        *id = dir->id;
        return publish(vol, dir->id, out);
    }
    if (strcmp(name, "..") == 0) {
        if (dir->parent == 0) return B_ENTRY_NOT_FOUND;
        *id = dir->parent;
        return publish(vol, dir->parent, out);
    }
    std::string wire;
    status_t status = epoc::check_name(name, &wire);
    if (status != B_OK) return status;

    for (int attempt = 0; attempt < kPublishAttempts; attempt++) {
        vnode_id found = 0;
        {
            std::lock_guard<std::mutex> hold(vol->lock);
            node* n = find_name_locked(vol, dir->id, wire);
            if (n != nullptr && !n->removed) found = n->id;
        }
        if (found == 0) {
            std::string path;
            status = child_path(vol, dir, wire, &path);
            if (status != B_OK) return status;
            epoc::dir_entry entry;
            std::vector<uint8> reply;
            status = request_entry(vol, path, &entry, &reply);
            if (status != B_OK) return status;
            if (node_for_entry(vol, dir, entry, &found) == nullptr) return B_NO_MEMORY;
        }
        // The record may have been released meanwhile; the lookup is then made again.
        if (publish(vol, found, out) == B_OK) {
            *id = found;
            return B_OK;
        }
    }
    return B_IO_ERROR;
}

void release_locked(volume* vol, node* n) {
    while (n != nullptr && n != vol->root && !n->published && n->children == 0) {
        vnode_id parent = n->parent;
        drop_node_locked(vol, n);
        n = find_node_locked(vol, parent);
    }
}

bool is_below_locked(volume* vol, const node* n, const node* dir) {
    for (const node* at = dir; at != nullptr;
         at = at->parent != 0 ? find_node_locked(vol, at->parent) : nullptr)
        if (at == n) return true;
    return false;
}

}  // namespace tavro5

using namespace tavro5;

// --- mount --------------------------------------------------------------------------------------

namespace {

void free_volume(volume* vol) {
    end_session(vol);
    if (vol->replyPort >= 0) delete_port(vol->replyPort);
    for (auto& [id, n] : vol->nodes) delete n;
    delete vol;
}

}  // namespace

int t5_mount(nspace_id nsid, const char*, unsigned long, void* parms, size_t len, void** ns,
             vnode_id* rootid) {
    if (parms == nullptr || len < MNT_BLOCK_SIZE) return B_BAD_VALUE;
    const uint8* block = static_cast<const uint8*>(parms);
    int32 writePort = static_cast<int32>(BytesToUlong(block + mnt_offset::writePort));
    char letter = static_cast<char>(toupper(block[mnt_offset::device]));
    if (writePort < 0) return B_BAD_VALUE;
    // The device names the drive: "C:".
    if (letter < 'A' || letter > 'Z' || block[mnt_offset::device + 1] != ':') return B_BAD_VALUE;

    volume* vol = new (std::nothrow) volume;
    if (vol == nullptr) return B_NO_MEMORY;
    vol->nsid = nsid;
    vol->writePort = writePort;
    vol->drive = letter;
    char debugFile[MNT_NAME_LENGTH + 1] = {};
    memcpy(debugFile, block + mnt_offset::debugFile, MNT_NAME_LENGTH);
    set_debug_file(debugFile);
    // The volume talks to the file service on a session of its own (the block's connection
    // stays the mount client's).
    vol->replyPort = create_port(HOST_REPLY_PORT_CAPACITY, "tavro5 reply");
    if (vol->replyPort < 0) {
        status_t status = vol->replyPort;
        free_volume(vol);
        return status;
    }
    if (begin_session(vol) != B_OK) {
        debug_line("%c: not mounted: no session with the file service", letter);
        free_volume(vol);
        return B_IO_ERROR;
    }

    // The drive must answer before it is mounted; its volume information comes with that.
    epoc::volume_info info;
    status_t status = request_volume(vol, &info);
    if (status != B_OK) {
        debug_line("%c: not mounted: the volume request failed (%s)", letter, be_strerror(status));
        free_volume(vol);
        return status;
    }
    vol->info = info;
    vol->have_info = true;

    node* root = new (std::nothrow) node{};
    if (root == nullptr) {
        free_volume(vol);
        return B_NO_MEMORY;
    }
    root->id = vol->next_id;
    root->parent = 0;
    root->name = "\\";
    root->attributes = epoc::kAttrDirectory;
    root->is_directory = true;
    const char* type = kVolumeType;
    root->attrs.push_back(
        {kTypeAttribute, B_MIME_STRING_TYPE, std::vector<uint8>(type, type + strlen(type) + 1)});
    vol->root = root;
    vol->nodes[root->id] = root;
    root->published = true;
    if (new_vnode(nsid, root->id, root) != B_OK) {
        free_volume(vol);
        return B_BAD_VALUE;
    }
    *ns = vol;
    *rootid = root->id;
    debug_line("%c: mounted", letter);
    return B_OK;
}

int t5_unmount(void* ns) {
    debug_line("%c: unmounted", static_cast<volume*>(ns)->drive);
    free_volume(static_cast<volume*>(ns));
    return B_OK;
}

int t5_rfsstat(void* ns, fs_info* out) {
    volume* vol = static_cast<volume*>(ns);
    epoc::volume_info info;
    // Free space changes with every write: ask each time, and fall back on what was last
    // known only when the handheld cannot be asked.
    status_t status = request_volume(vol, &info);
    std::lock_guard<std::mutex> hold(vol->lock);
    if (status == B_OK) {
        vol->info = info;
        vol->have_info = true;
    } else if (!vol->have_info) {
        return status;
    }
    const epoc::volume_info& v = vol->info;
    *out = fs_info{};
    out->dev = vol->nsid;
    out->root = vol->root->id;
    out->flags = B_FS_HAS_ATTR | B_FS_HAS_MIME | B_FS_IS_PERSISTENT | B_FS_IS_REMOVABLE;
    if (v.media_attributes & 0x04) out->flags |= B_FS_IS_READONLY;  // write-protected medium
    out->block_size = 1024;
    out->io_size = epoc::kMaxChunk;
    out->total_blocks = static_cast<int64>(v.size / 1024);
    out->free_blocks = static_cast<int64>(v.free / 1024);
    out->total_nodes = out->total_blocks;
    out->free_nodes = out->free_blocks;
    snprintf(out->device_name, sizeof out->device_name, "%c:", vol->drive);
    std::string label = epoc::wire_to_utf8(v.label, v.label_length);
    snprintf(out->volume_name, sizeof out->volume_name, "%s", label.c_str());
    snprintf(out->fsh_name, sizeof out->fsh_name, "tavro5");
    return B_OK;
}

// --- vnode hooks ------------------------------------------------------------------------------

int t5_walk(void* ns, void* dir, const char* name, char**, vnode_id* vnid) {
    volume* vol = static_cast<volume*>(ns);
    if (dir == nullptr) return B_ENTRY_NOT_FOUND;
    node* found;
    return get_named_node(vol, static_cast<node*>(dir), name, vnid, &found);
}

int t5_read_vnode(void* ns, vnode_id vnid, char, void** out) {
    volume* vol = static_cast<volume*>(ns);
    std::lock_guard<std::mutex> hold(vol->lock);
    node* n = find_node_locked(vol, vnid);
    if (n == nullptr || n->removed) return B_ENTRY_NOT_FOUND;
    n->published = true;
    *out = n;
    return B_OK;
}

int t5_write_vnode(void* ns, void* node_, char) {
    volume* vol = static_cast<volume*>(ns);
    node* n = static_cast<node*>(node_);
    if (n == nullptr) return B_ENTRY_NOT_FOUND;
    std::lock_guard<std::mutex> hold(vol->lock);
    n->published = false;
    // What users wrote as attributes lives as long as the kernel's copy of the node.
    release_locked(vol, n);
    return B_OK;
}

// Unlink and rmdir remove the entry on the handheld at once; here only the record goes.
int t5_remove_vnode(void* ns, void* node_, char reenter) {
    return t5_write_vnode(ns, node_, reenter);
}

int t5_secure_vnode(void*, void* n) { return n == nullptr ? B_ENTRY_NOT_FOUND : B_OK; }

int t5_access(void*, void*, int) { return B_OK; }

int t5_readlink(void*, void*, char*, size_t*) { return B_BAD_VALUE; }

// --- the operation table ---------------------------------------------------------------------

extern "C" {

__attribute__((visibility("default"))) int32 api_version = B_CURRENT_FS_API_VERSION;

// Slots by name; a slot not named stays null, which the kernel reads as "not supported".
__attribute__((visibility("default"))) vnode_ops fs_entry = {
    .read_vnode = t5_read_vnode,
    .write_vnode = t5_write_vnode,
    .remove_vnode = t5_remove_vnode,
    .secure_vnode = t5_secure_vnode,
    .walk = t5_walk,
    .access = t5_access,
    .create = t5_create,
    .mkdir = t5_mkdir,
    .rename = t5_rename,
    .unlink = t5_unlink,
    .rmdir = t5_rmdir,
    .readlink = t5_readlink,
    .opendir = t5_opendir,
    .closedir = t5_closedir,
    .free_dircookie = t5_free_dircookie,
    .rewinddir = t5_rewinddir,
    .readdir = t5_readdir,
    .open = t5_open,
    .close = t5_close,
    .free_cookie = t5_free_cookie,
    .read = t5_read,
    .write = t5_write,
    .rstat = t5_rstat,
    .wstat = t5_wstat,
    .mount = t5_mount,
    .unmount = t5_unmount,
    .rfsstat = t5_rfsstat,
    .open_attrdir = t5_open_attrdir,
    .close_attrdir = t5_close_attrdir,
    .free_attrdircookie = t5_free_attrdircookie,
    .rewind_attrdir = t5_rewind_attrdir,
    .read_attrdir = t5_read_attrdir,
    .write_attr = t5_write_attr,
    .read_attr = t5_read_attr,
    .remove_attr = t5_remove_attr,
    .rename_attr = t5_rename_attr,
    .stat_attr = t5_stat_attr,
};

}  // extern "C"
