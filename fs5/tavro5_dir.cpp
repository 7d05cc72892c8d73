// tavro5: directory listings and namespace changes (mkdir, rmdir, unlink, rename).
#include <cstring>
#include <new>

#include "epoc_text.h"
#include "tavro5.h"

using namespace tavro5;

namespace {

// What a listing asks for: every entry, hidden and system ones too, with its file type ids.
constexpr uint32 kListAttributes =
    epoc::kAttrHidden | epoc::kAttrSystem | epoc::kAttrDirectory | epoc::kAttrWithUids;

bool is_dot_name(const char* name) { return strcmp(name, ".") == 0 || strcmp(name, "..") == 0; }

status_t node_path(volume* vol, const node* n, std::string* path) {
    std::lock_guard<std::mutex> hold(vol->lock);
    return path_locked(vol, n, path);
}

// Pulls the next read dir reply into the cookie: B_OK with entries, B_ENTRY_NOT_FOUND at the
// end of the listing, or the error of a reply that was lost, garbled or refused. Either of the
// last two ends the listing: a lost reply's entries cannot be asked for again.
status_t fetch_entries(volume* vol, cookie* c) {
    uint8 request[16];
    size_t size = epoc::build_handle_request(request, sizeof request, epoc::kReadDir, 0, c->handle);
    int32 device = epoc::kOk;
    c->buffer.clear();
    c->offset = epoc::kHeaderSize;
    status_t status =
        transact(vol, request, size, &c->buffer, &device, handle_use::uses, &c->session);
    // A session ended under the listing took its handle: what is left of it cannot be had.
    if (status == kHandleGone) status = B_IO_ERROR;
    if (status == B_OK && device == epoc::kEndOfFile)
        status = B_ENTRY_NOT_FOUND;
    else if (status == B_OK && device != epoc::kOk)
        status = epoc::map_status(device);
    else if (status == B_OK && c->buffer.size() <= epoc::kHeaderSize)
        status = B_IO_ERROR;  // entries promised, none came: the reply was cut short
    if (status != B_OK) {
        c->buffer.clear();
        c->ended = true;
    }
    return status;
}

// True when the reply in the cookie holds bytes past its last whole entry: it came short or
// garbled, and the entries it lost are lost for this listing.
bool broken_reply(const cookie* c) {
    size_t next = (c->offset + 3) & ~size_t{3};  // entries start on 4-byte bounds
    return !c->buffer.empty() && next < c->buffer.size();
}

// Forgets what a request whose reply was lost may have changed.
void forget(volume* vol, node* n) {
    std::lock_guard<std::mutex> hold(vol->lock);
    forget_name_locked(vol, n);
    n->stale = true;
}

// A change inside a directory may change its time on the handheld: the next stat asks.
void contents_changed(volume* vol, node* dir) {
    std::lock_guard<std::mutex> hold(vol->lock);
    dir->stale = true;
}

}  // namespace

// --- listing ----------------------------------------------------------------------------------

int t5_opendir(void* ns, void* node_, void** out) {
    volume* vol = static_cast<volume*>(ns);
    node* dir = static_cast<node*>(node_);
    if (dir == nullptr) return B_ENTRY_NOT_FOUND;
    if (!dir->directory()) return B_NOT_A_DIRECTORY;
    std::string path;
    status_t status = node_path(vol, dir, &path);
    if (status != B_OK) return status;
    path += "\\*";
    if (path.size() > epoc::kMaxPath) return B_NAME_TOO_LONG;
    uint32 handle, session;
    status = open_dir(vol, kListAttributes, path, &handle, &session);
    if (status != B_OK) return status;
    cookie* c = new_handle_cookie(vol, handle, session);
    if (c == nullptr) return B_NO_MEMORY;
    *out = c;
    return B_OK;
}

int t5_readdir(void* ns, void* node_, void* cookie_, long* num, be_dirent* dirent, size_t bufsize) {
    volume* vol = static_cast<volume*>(ns);
    node* dir = static_cast<node*>(node_);
    cookie* c = static_cast<cookie*>(cookie_);
    if (dir == nullptr || c == nullptr) return B_ENTRY_NOT_FOUND;
    std::lock_guard<std::mutex> hold(c->lock);
    *num = 0;
    size_t room = be_dirent_name_room(bufsize);

    dirent->d_dev = vol->nsid;
    dirent->d_pdev = vol->nsid;
    dirent->d_pino = dir->id;
    if (c->seeds < 2) {
        const char* name = c->seeds == 0 ? "." : "..";
        if (strlen(name) + 1 > room) return B_BAD_VALUE;
        vnode_id id = c->seeds == 0 || dir->parent == 0 ? dir->id : dir->parent;
        c->seeds++;
        strcpy(dirent->d_name, name);
        dirent->d_reclen = static_cast<uint16>(strlen(name));
        dirent->d_ino = id;
        *num = 1;
        return B_OK;
    }
    for (;;) {
        if (c->ended) return B_OK;
        epoc::dir_entry entry;
        if (c->buffer.empty() ||
            !epoc::parse_dir_entry(c->buffer.data(), c->buffer.size(), c->offset, &entry)) {
            // The reply is used up, or what is left of it is not a whole entry.
            if (broken_reply(c)) {
                c->buffer.clear();
                c->ended = true;
                return B_IO_ERROR;
            }
            status_t status = fetch_entries(vol, c);
            if (status == B_ENTRY_NOT_FOUND) return B_OK;  // the end
            if (status != B_OK) return status;
            continue;
        }
        std::string name = epoc::wire_to_utf8(entry.long_name, entry.long_length);
        // A name Linux cannot show is passed over.
        bool usable = name.size() < sizeof dirent->d_name && name.find('/') == std::string::npos &&
                      name.find('\0') == std::string::npos && name != "." && name != "..";
        if (usable && name.size() + 1 > room) return B_BAD_VALUE;  // the caller's buffer
        c->offset = entry.next;
        if (!usable) continue;
        vnode_id id;
        if (node_for_entry(vol, dir, entry, &id) == nullptr) return B_NO_MEMORY;
        memcpy(dirent->d_name, name.c_str(), name.size() + 1);
        dirent->d_reclen = static_cast<uint16>(name.size());
        dirent->d_ino = id;
        *num = 1;
        return B_OK;
    }
}

int t5_rewinddir(void* ns, void* node_, void* cookie_) {
    volume* vol = static_cast<volume*>(ns);
    cookie* c = static_cast<cookie*>(cookie_);
    if (node_ == nullptr) return B_ENTRY_NOT_FOUND;
    if (c == nullptr) return B_OK;
    void* fresh = nullptr;
    status_t status = t5_opendir(vol, node_, &fresh);
    if (status != B_OK) return status;
    cookie* f = static_cast<cookie*>(fresh);
    std::lock_guard<std::mutex> hold(c->lock);
    if (c->has_handle) (void)close_handle(vol, c->handle, c->session);
    c->handle = f->handle;
    c->session = f->session;
    c->has_handle = true;
    c->buffer.clear();
    c->offset = 0;
    c->seeds = 0;
    c->ended = false;
    delete f;
    return B_OK;
}

int t5_closedir(void*, void*, void*) { return B_OK; }

// A listing's cookie is a file's cookie that lists: it goes the same way.
int t5_free_dircookie(void* ns, void* n, void* cookie_) { return t5_free_cookie(ns, n, cookie_); }

// --- namespace changes ---------------------------------------------------------------------------

int t5_mkdir(void* ns, void* dir_, const char* name, int) {
    volume* vol = static_cast<volume*>(ns);
    node* dir = static_cast<node*>(dir_);
    if (dir == nullptr) return B_ENTRY_NOT_FOUND;
    if (is_dot_name(name)) return B_FILE_EXISTS;
    std::string wire, path;
    status_t status = epoc::check_name(name, &wire);
    if (status == B_OK) status = child_path(vol, dir, wire, &path);
    if (status != B_OK) return status;
    path += '\\';  // the handheld makes directories named with a trailing separator
    if (path.size() > epoc::kMaxPath) return B_NAME_TOO_LONG;
    uint8 request[epoc::kMaxRequest];
    size_t size = epoc::build_path_request(request, sizeof request, epoc::kMkdirAll, 0, path);
    status = simple_request(vol, request, size);
    contents_changed(vol, dir);
    if (status == B_OK) notify_change(B_ENTRY_CREATED, vol, dir->id, 0, 0, name);
    return status;
}

namespace {

status_t remove_entry(volume* vol, node* dir, const char* name, bool directory) {
    if (dir == nullptr) return B_ENTRY_NOT_FOUND;
    if (is_dot_name(name)) return B_BAD_VALUE;
    vnode_id id;
    node* n;
    status_t status = get_named_node(vol, dir, name, &id, &n);
    if (status != B_OK) return status;
    if (directory && !n->directory()) status = B_NOT_A_DIRECTORY;
    if (!directory && n->directory()) status = B_IS_A_DIRECTORY;
    std::string path;
    if (status == B_OK) status = node_path(vol, n, &path);
    if (status == B_OK) {
        if (directory) path += '\\';
        uint8 request[epoc::kMaxRequest];
        size_t size = epoc::build_path_request(request, sizeof request,
                                               directory ? epoc::kRmdir : epoc::kDelete, 0, path);
        std::vector<uint8> reply;
        int32 device = epoc::kOk;
        status = size == 0 ? B_NAME_TOO_LONG : transact(vol, request, size, &reply, &device);
        if (status != B_OK) {
            forget(vol, n);  // it may be gone or not: ask again next time
        } else if (device == epoc::kInUse) {
            // Open by someone; for a directory, the handheld's way of saying it is not empty.
            status = directory ? B_DIRECTORY_NOT_EMPTY : B_BUSY;
        } else {
            status = epoc::map_status(device);
        }
    }
    contents_changed(vol, dir);
    if (status == B_OK) {
        {
            std::lock_guard<std::mutex> hold(vol->lock);
            n->removed = true;
            forget_name_locked(vol, n);
        }
        remove_node(vol, id);
        notify_change(B_ENTRY_REMOVED, vol, dir->id, 0, id, nullptr);
    }
    release_node(vol, id);
    return status;
}

}  // namespace

int t5_rmdir(void* ns, void* dir, const char* name) {
    return remove_entry(static_cast<volume*>(ns), static_cast<node*>(dir), name, true);
}

int t5_unlink(void* ns, void* dir, const char* name) {
    return remove_entry(static_cast<volume*>(ns), static_cast<node*>(dir), name, false);
}

int t5_rename(void* ns, void* olddir_, const char* oldname, void* newdir_, const char* newname) {
    volume* vol = static_cast<volume*>(ns);
    node* olddir = static_cast<node*>(olddir_);
    node* newdir = static_cast<node*>(newdir_);
    if (olddir == nullptr || newdir == nullptr) return B_ENTRY_NOT_FOUND;
    if (is_dot_name(oldname) || is_dot_name(newname)) return B_BAD_VALUE;
    std::string newwire;
    status_t status = epoc::check_name(newname, &newwire);
    if (status != B_OK) return status;

    vnode_id id;
    node* n;
    status = get_named_node(vol, olddir, oldname, &id, &n);
    if (status != B_OK) return status;
    vnode_id targetId = 0;
    node* target = nullptr;
    status_t found = get_named_node(vol, newdir, newname, &targetId, &target);
    if (found != B_OK && found != B_ENTRY_NOT_FOUND) status = found;
    if (target == n) {  // the same entry under another case: a plain rename
        release_node(vol, targetId);
        target = nullptr;
    }

    std::string oldpath, newpath;
    if (status == B_OK) {
        std::lock_guard<std::mutex> hold(vol->lock);
        if (n->directory() && is_below_locked(vol, n, newdir)) status = B_BAD_VALUE;
        if (status == B_OK) status = path_locked(vol, n, &oldpath);
        if (status == B_OK) status = path_locked(vol, newdir, &newpath);
        newpath += '\\';
        newpath += newwire;
        if (status == B_OK && newpath.size() > epoc::kMaxPath) status = B_NAME_TOO_LONG;
    }
    uint16 op = epoc::kRename;
    if (status == B_OK && target != nullptr) {
        if (target->directory() && !n->directory())
            status = B_IS_A_DIRECTORY;
        else if (!target->directory() && n->directory())
            status = B_NOT_A_DIRECTORY;
        else if (target->directory()) {
            // Linux replaces an empty directory; the handheld renames onto nothing.
            status = t5_rmdir(vol, newdir, newname);
        } else {
            op = epoc::kReplace;  // one request that puts the file in the other's place
        }
    }
    if (status == B_OK) {
        uint8 request[epoc::kMaxRequest];
        size_t size = epoc::build_rename(request, sizeof request, op, 0, oldpath, newpath);
        std::vector<uint8> reply;
        int32 device = epoc::kOk;
        status = size == 0 ? B_NAME_TOO_LONG : transact(vol, request, size, &reply, &device);
        if (status != B_OK) {
            forget(vol, n);
            if (target != nullptr) forget(vol, target);
        } else {
            status = epoc::map_status(device);
        }
    }
    contents_changed(vol, olddir);
    contents_changed(vol, newdir);
    if (status == B_OK) {
        std::lock_guard<std::mutex> hold(vol->lock);
        if (target != nullptr && !target->directory()) {
            target->removed = true;
            forget_name_locked(vol, target);
        }
        forget_name_locked(vol, n);
        if (n->parent != newdir->id) {
            node* old = find_node_locked(vol, n->parent);
            if (old != nullptr) old->children--;
            newdir->children++;
            n->parent = newdir->id;
        }
        n->wire = newwire;
        n->name = newname;
        name_node_locked(vol, n);
        set_type_locked(n);  // the type follows the new extension
    }
    if (status == B_OK && target != nullptr && !target->directory()) remove_node(vol, targetId);
    if (target != nullptr) release_node(vol, targetId);
    release_node(vol, id);
    if (status == B_OK) notify_change(B_ENTRY_MOVED, vol, olddir->id, newdir->id, id, newname);
    return status;
}
