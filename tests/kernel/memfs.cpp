#include "memfs.h"

#include <strings.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "kernel/syscalls.h"

namespace memfs {

// The kernel refuses puts, removals and notices only for ids it does not know, and this file
// system passes only ids the kernel gave it: those statuses are cast away below.

namespace {

// Set while this thread's file-system code is inside a call to the kernel: whatever the
// kernel calls back then must carry reenter = true.
thread_local int tInKernelCall = 0;

struct KernelCall {
    KernelCall() { tInKernelCall++; }
    ~KernelCall() { tInKernelCall--; }
};

// A mutex that knows its owner, so that a wrong reenter flag shows as a violation instead of a
// self-deadlock.
class CheckedLock {
public:
    void Lock() {
        mutex_.lock();
        owner_.store(std::this_thread::get_id());
    }
    void Unlock() {
        owner_.store(std::thread::id());
        mutex_.unlock();
    }
    bool HeldByMe() const { return owner_.load() == std::this_thread::get_id(); }

private:
    std::mutex mutex_;
    std::atomic<std::thread::id> owner_{};
};

class Locker {
public:
    explicit Locker(CheckedLock& lock) : lock_(lock) { lock_.Lock(); }
    ~Locker() {
        if (held_) lock_.Unlock();
    }
    void Unlock() {
        lock_.Unlock();
        held_ = false;
    }
    void Lock() {
        lock_.Lock();
        held_ = true;
    }

private:
    CheckedLock& lock_;
    bool held_ = true;
};

struct Attribute {
    uint32 type = 0;
    std::vector<char> data;
};

// The order of a folder's names: exact, or without regard to letter case.
struct NameOrder {
    bool ignoreCase = false;
    bool operator()(const std::string& a, const std::string& b) const {
        return ignoreCase ? strcasecmp(a.c_str(), b.c_str()) < 0 : a < b;
    }
};

struct Node {
    vnode_id id = 0;
    vnode_id parent = 0;
    uint32 mode = 0;
    std::map<std::string, vnode_id, NameOrder> entries;
    std::vector<char> data;
    std::map<std::string, Attribute> attrs;
    be_timespec mtime{};
    bool unlinked = false;
    bool loaded = false;  // known to the kernel's cache

    bool IsDir() const { return (mode & B_S_IFMT) == B_S_IFDIR; }
};

struct Volume {
    nspace_id nsid = 0;
    CheckedLock lock;  // guards the nodes and their contents
    std::map<vnode_id, std::unique_ptr<Node>> nodes;
    vnode_id nextId = 1;
    MountParams params;
    int64 used = 0;  // bytes of file data
};

struct FileCookie {
    int omode = 0;
};
struct ListCookie {
    size_t index = 0;
};

// Reports, injected failures and the volumes by id. Taken after a volume's lock, never before.
std::mutex gLock;
std::map<nspace_id, Report> gReports;
std::map<std::pair<nspace_id, std::string>, status_t> gFailures;
std::map<nspace_id, Volume*> gVolumes;

void Violation(nspace_id nsid, const std::string& text) {
    std::lock_guard<std::mutex> guard(gLock);
    gReports[nsid].violations.push_back(text);
}

void Count(nspace_id nsid, vnode_id vnid, int NodeCounts::*field) {
    std::lock_guard<std::mutex> guard(gLock);
    gReports[nsid].nodes[vnid].*field += 1;
}

status_t Injected(const Volume* vol, const char* op) {
    std::lock_guard<std::mutex> guard(gLock);
    auto it = gFailures.find({vol->nsid, op});
    return it == gFailures.end() ? B_OK : it->second;
}

be_timespec Now() {
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);
    return {t.tv_sec, t.tv_nsec};
}

Volume* Vol(void* ns) { return static_cast<Volume*>(ns); }
Node* N(void* node) { return static_cast<Node*>(node); }

Node* FindLocked(Volume* vol, vnode_id vnid) {
    auto it = vol->nodes.find(vnid);
    return it == vol->nodes.end() ? nullptr : it->second.get();
}

Node& MakeNodeLocked(Volume* vol, vnode_id parent, uint32 mode) {
    auto node = std::make_unique<Node>();
    node->id = vol->nextId++;
    node->parent = parent;
    node->mode = mode;
    node->mtime = Now();
    node->entries =
        std::map<std::string, vnode_id, NameOrder>(NameOrder{vol->params.caseInsensitive});
    Node& ref = *node;
    vol->nodes.emplace(ref.id, std::move(node));
    return ref;
}

// Sets a file's size, keeping count of the volume's bytes; refuses to grow past its capacity.
status_t ResizeLocked(Volume* vol, Node* n, size_t size) {
    const int64 growth = static_cast<int64>(size) - static_cast<int64>(n->data.size());
    if (growth > 0 && vol->params.capacity > 0 && vol->used + growth > vol->params.capacity)
        return B_DEVICE_FULL;
    n->data.resize(size);
    vol->used += growth;
    return B_OK;
}

// Checks a release call (write_vnode, remove_vnode): its reenter flag, and that nobody holds a
// reference to the node any more. Takes the lock unless the call is re-entered (then this
// thread holds it already: memfs gives references back only under its lock).
bool EnterRelease(Volume* vol, Node* n, char reenter, const char* op) {
    if (kernel_vnode_refcount(vol->nsid, n->id) > 0) {
        Violation(vol->nsid, std::string(op) + " of referenced node " + std::to_string(n->id));
    }
    const bool expected = tInKernelCall > 0;
    if (static_cast<bool>(reenter) != expected) {
        Violation(vol->nsid, std::string(op) + " with reenter " + (reenter ? "set" : "clear"));
    }
    if (reenter) {
        std::lock_guard<std::mutex> guard(gLock);
        gReports[vol->nsid].reenteredCalls++;
    }
    if (vol->lock.HeldByMe()) {
        if (!reenter) Violation(vol->nsid, std::string(op) + " not re-entered under the lock");
        return false;
    }
    vol->lock.Lock();
    return true;
}

int fs_read_vnode(void* ns, vnode_id vnid, char reenter, void** node) {
    Volume* vol = Vol(ns);
    if (static_cast<bool>(reenter) != (tInKernelCall > 0)) {
        Violation(vol->nsid, "read_vnode with the wrong reenter flag");
    }
    if (reenter) {
        std::lock_guard<std::mutex> guard(gLock);
        gReports[vol->nsid].reenteredCalls++;
    }
    if (status_t s = Injected(vol, "read_vnode"); s != B_OK) return s;
    Locker locker(vol->lock);
    Node* n = FindLocked(vol, vnid);
    if (n == nullptr || n->unlinked) return B_ENTRY_NOT_FOUND;
    if (n->loaded) Violation(vol->nsid, "node " + std::to_string(vnid) + " read in twice");
    n->loaded = true;
    Count(vol->nsid, vnid, &NodeCounts::loads);
    *node = n;
    return B_OK;
}

int fs_write_vnode(void* ns, void* node, char reenter) {
    Volume* vol = Vol(ns);
    Node* n = N(node);
    bool locked = EnterRelease(vol, n, reenter, "write_vnode");
    if (!n->loaded) Violation(vol->nsid, "write_vnode of unloaded node " + std::to_string(n->id));
    n->loaded = false;
    Count(vol->nsid, n->id, &NodeCounts::writes);
    if (locked) vol->lock.Unlock();
    return B_OK;
}

int fs_remove_vnode(void* ns, void* node, char reenter) {
    Volume* vol = Vol(ns);
    Node* n = N(node);
    bool locked = EnterRelease(vol, n, reenter, "remove_vnode");
    if (!n->unlinked) Violation(vol->nsid, "remove_vnode of linked node " + std::to_string(n->id));
    const vnode_id id = n->id;
    Count(vol->nsid, id, &NodeCounts::removes);
    vol->used -= static_cast<int64>(n->data.size());
    vol->nodes.erase(id);
    if (locked) vol->lock.Unlock();
    return B_OK;
}

int fs_walk(void* ns, void* dir, const char* name, char** /*path*/, vnode_id* vnid) {
    Volume* vol = Vol(ns);
    if (status_t s = Injected(vol, "walk"); s != B_OK) return s;
    vnode_id target = 0;
    {
        Locker locker(vol->lock);
        Node* d = N(dir);
        if (!d->IsDir()) return B_NOT_A_DIRECTORY;
        if (std::strcmp(name, ".") == 0) {
            target = d->id;
        } else if (std::strcmp(name, "..") == 0) {
            target = d->parent;
        } else {
            auto it = d->entries.find(name);
            if (it == d->entries.end()) return B_ENTRY_NOT_FOUND;
            target = it->second;
        }
    }
    KernelCall call;
    void* found = nullptr;
    status_t status = get_vnode(vol->nsid, target, &found);
    if (status != B_OK) return status;
    *vnid = target;
    return B_OK;
}

int fs_create(void* ns, void* dir, const char* name, int omode, int perms, vnode_id* vnid,
              void** cookie) {
    Volume* vol = Vol(ns);
    if (status_t s = Injected(vol, "create"); s != B_OK) return s;
    Node* d = N(dir);
    Locker locker(vol->lock);
    if (!d->IsDir()) return B_NOT_A_DIRECTORY;
    if (auto it = d->entries.find(name); it != d->entries.end()) {
        if (omode & B_O_EXCL) return B_FILE_EXISTS;
        vnode_id existing = it->second;
        if (FindLocked(vol, existing)->IsDir()) return B_IS_A_DIRECTORY;
        locker.Unlock();
        void* node = nullptr;
        {
            KernelCall call;
            status_t status = get_vnode(vol->nsid, existing, &node);
            if (status != B_OK) return status;
        }
        if (omode & B_O_TRUNC) {
            locker.Lock();
            (void)ResizeLocked(vol, N(node), 0);
            locker.Unlock();
        }
        *cookie = new FileCookie{omode};
        *vnid = existing;
        return B_OK;
    }
    Node& n = MakeNodeLocked(vol, d->id, B_S_IFREG | (perms & 0777));
    d->entries[name] = n.id;
    n.loaded = true;
    Count(vol->nsid, n.id, &NodeCounts::loads);
    {
        // Published under the lock, so that no walk meets the name before the node is cached.
        KernelCall call;
        status_t status = new_vnode(vol->nsid, n.id, &n);
        if (status != B_OK) {
            Violation(vol->nsid, "new_vnode refused a new node");
            return status;
        }
    }
    *cookie = new FileCookie{omode};
    *vnid = n.id;
    const vnode_id id = n.id, dirId = d->id;
    locker.Unlock();
    (void)notify_listener(B_ENTRY_CREATED, vol->nsid, dirId, 0, id, name);
    return B_OK;
}

int fs_mkdir(void* ns, void* dir, const char* name, int perms) {
    Volume* vol = Vol(ns);
    if (status_t s = Injected(vol, "mkdir"); s != B_OK) return s;
    Node* d = N(dir);
    Locker locker(vol->lock);
    if (!d->IsDir()) return B_NOT_A_DIRECTORY;
    if (d->entries.count(name) != 0) return B_FILE_EXISTS;
    Node& n = MakeNodeLocked(vol, d->id, B_S_IFDIR | (perms & 0777));
    d->entries[name] = n.id;
    const vnode_id id = n.id, dirId = d->id;
    locker.Unlock();
    (void)notify_listener(B_ENTRY_CREATED, vol->nsid, dirId, 0, id, name);
    return B_OK;
}

// Takes `name` out of `dir` the way the platform's file systems do: a reference on the node,
// remove_vnode, then put_vnode, so that the kernel calls remove_vnode at the last reference.
status_t RemoveEntry(Volume* vol, Node* dir, const char* name, bool wantDir) {
    vnode_id id = 0;
    {
        Locker locker(vol->lock);
        if (!dir->IsDir()) return B_NOT_A_DIRECTORY;
        auto it = dir->entries.find(name);
        if (it == dir->entries.end()) return B_ENTRY_NOT_FOUND;
        id = it->second;
    }
    void* node = nullptr;
    {
        KernelCall call;
        status_t status = get_vnode(vol->nsid, id, &node);
        if (status != B_OK) return status;
    }
    Locker locker(vol->lock);
    KernelCall call;
    Node* n = N(node);
    status_t status = B_OK;
    auto it = dir->entries.find(name);
    if (it == dir->entries.end() || it->second != id) {
        status = B_ENTRY_NOT_FOUND;
    } else if (wantDir && !n->IsDir()) {
        status = B_NOT_A_DIRECTORY;
    } else if (!wantDir && n->IsDir()) {
        status = B_IS_A_DIRECTORY;
    } else if (n->IsDir() && !n->entries.empty()) {
        status = B_DIRECTORY_NOT_EMPTY;
    }
    if (status != B_OK) {
        (void)put_vnode(vol->nsid, id);
        return status;
    }
    dir->entries.erase(it);
    n->unlinked = true;
    (void)remove_vnode(vol->nsid, id);
    (void)put_vnode(vol->nsid, id);  // may free the node
    const vnode_id dirId = dir->id;
    locker.Unlock();
    (void)notify_listener(B_ENTRY_REMOVED, vol->nsid, dirId, 0, id, nullptr);
    return B_OK;
}

int fs_unlink(void* ns, void* dir, const char* name) {
    Volume* vol = Vol(ns);
    if (status_t s = Injected(vol, "unlink"); s != B_OK) return s;
    return RemoveEntry(vol, N(dir), name, false);
}

int fs_rmdir(void* ns, void* dir, const char* name) {
    Volume* vol = Vol(ns);
    if (status_t s = Injected(vol, "rmdir"); s != B_OK) return s;
    return RemoveEntry(vol, N(dir), name, true);
}

int fs_rename(void* ns, void* olddir, const char* oldname, void* newdir, const char* newname) {
    Volume* vol = Vol(ns);
    if (status_t s = Injected(vol, "rename"); s != B_OK) return s;
    Node* from = N(olddir);
    Node* to = N(newdir);
    bool sourceIsDir = false;
    bool replacing = false;
    {
        Locker locker(vol->lock);
        if (!from->IsDir() || !to->IsDir()) return B_NOT_A_DIRECTORY;
        auto it = from->entries.find(oldname);
        if (it == from->entries.end()) return B_ENTRY_NOT_FOUND;
        sourceIsDir = FindLocked(vol, it->second)->IsDir();
        auto target = to->entries.find(newname);
        if (target != to->entries.end() && target->second == it->second) return B_OK;
        replacing = target != to->entries.end();
        if (replacing && vol->params.renameKeepsTarget) return B_FILE_EXISTS;
    }
    if (replacing) {
        status_t status = RemoveEntry(vol, to, newname, sourceIsDir);
        if (status != B_OK && status != B_ENTRY_NOT_FOUND) return status;
    }
    Locker locker(vol->lock);
    auto it = from->entries.find(oldname);
    if (it == from->entries.end()) return B_ENTRY_NOT_FOUND;
    if (to->entries.count(newname) != 0) return B_FILE_EXISTS;
    const vnode_id id = it->second;
    // A directory may not move below itself.
    for (vnode_id up = to->id;; up = FindLocked(vol, up)->parent) {
        if (up == id) return B_BAD_VALUE;
        if (up == 1) break;
    }
    from->entries.erase(it);
    to->entries[newname] = id;
    FindLocked(vol, id)->parent = to->id;
    const vnode_id fromId = from->id, toId = to->id;
    locker.Unlock();
    (void)notify_listener(B_ENTRY_MOVED, vol->nsid, fromId, toId, id, newname);
    return B_OK;
}

int fs_opendir(void* ns, void* node, void** cookie) {
    Volume* vol = Vol(ns);
    if (status_t s = Injected(vol, "opendir"); s != B_OK) return s;
    if (!N(node)->IsDir()) return B_NOT_A_DIRECTORY;
    *cookie = new ListCookie;
    return B_OK;
}

// A folder's listing and a node's attribute listing keep the same cookie: these serve both.
int fs_close_list(void*, void*, void*) { return B_OK; }

int fs_free_list_cookie(void*, void*, void* cookie) {
    delete static_cast<ListCookie*>(cookie);
    return B_OK;
}

int fs_rewind_list(void*, void*, void* cookie) {
    static_cast<ListCookie*>(cookie)->index = 0;
    return B_OK;
}

status_t FillEntry(be_dirent* buf, size_t bufsize, nspace_id nsid, vnode_id dir, vnode_id id,
                   const std::string& name) {
    if (bufsize < offsetof(be_dirent, d_name) + name.size() + 1) return B_BAD_VALUE;
    buf->d_dev = buf->d_pdev = nsid;
    buf->d_ino = id;
    buf->d_pino = dir;
    buf->d_reclen = static_cast<uint16>(offsetof(be_dirent, d_name) + name.size() + 1);
    std::memcpy(buf->d_name, name.c_str(), name.size() + 1);
    return B_OK;
}

int fs_readdir(void* ns, void* node, void* cookie, long* num, be_dirent* buf, size_t bufsize) {
    Volume* vol = Vol(ns);
    if (status_t s = Injected(vol, "readdir"); s != B_OK) return s;
    auto* c = static_cast<ListCookie*>(cookie);
    Node* d = N(node);
    Locker locker(vol->lock);
    std::string name;
    vnode_id id = 0;
    if (c->index == 0) {
        name = ".";
        id = d->id;
    } else if (c->index == 1) {
        name = "..";
        id = d->parent;
    } else if (c->index - 2 < d->entries.size()) {
        auto it = std::next(d->entries.begin(), static_cast<long>(c->index - 2));
        name = it->first;
        id = it->second;
    } else {
        *num = 0;
        return B_OK;
    }
    status_t status = FillEntry(buf, bufsize, vol->nsid, d->id, id, name);
    if (status != B_OK) return status;
    c->index++;
    *num = 1;
    return B_OK;
}

int fs_open(void* ns, void* node, int omode, void** cookie) {
    Volume* vol = Vol(ns);
    if (status_t s = Injected(vol, "open"); s != B_OK) return s;
    Node* n = N(node);
    if (n->IsDir() && (omode & B_O_ACCMODE) != B_O_RDONLY) return B_IS_A_DIRECTORY;
    if ((omode & B_O_TRUNC) && !n->IsDir()) {
        Locker locker(vol->lock);
        (void)ResizeLocked(vol, n, 0);
    }
    *cookie = new FileCookie{omode};
    return B_OK;
}

int fs_close(void* ns, void*, void*) { return Injected(Vol(ns), "close"); }

int fs_free_cookie(void*, void*, void* cookie) {
    delete static_cast<FileCookie*>(cookie);
    return B_OK;
}

int fs_read(void* ns, void* node, void*, off_t pos, void* buf, size_t* len) {
    Volume* vol = Vol(ns);
    if (status_t s = Injected(vol, "read"); s != B_OK) return s;
    Node* n = N(node);
    if (n->IsDir()) return B_IS_A_DIRECTORY;
    Locker locker(vol->lock);
    const size_t size = n->data.size();
    const size_t start = std::min(static_cast<size_t>(pos), size);
    *len = std::min(*len, size - start);
    std::memcpy(buf, n->data.data() + start, *len);
    return B_OK;
}

int fs_write(void* ns, void* node, void* cookie, off_t pos, const void* buf, size_t* len) {
    Volume* vol = Vol(ns);
    if (status_t s = Injected(vol, "write"); s != B_OK) return s;
    Node* n = N(node);
    if (n->IsDir()) return B_IS_A_DIRECTORY;
    {
        Locker locker(vol->lock);
        size_t at = static_cast<size_t>(pos);
        if (static_cast<FileCookie*>(cookie)->omode & B_O_APPEND) at = n->data.size();
        if (n->data.size() < at + *len) {
            if (ResizeLocked(vol, n, at + *len) != B_OK) {
                *len = 0;
                return B_DEVICE_FULL;
            }
        }
        std::memcpy(n->data.data() + at, buf, *len);
        n->mtime = Now();
    }
    (void)notify_listener(B_STAT_CHANGED, vol->nsid, 0, 0, n->id, nullptr);
    return B_OK;
}

int fs_rstat(void* ns, void* node, be_stat* st) {
    Volume* vol = Vol(ns);
    if (status_t s = Injected(vol, "rstat"); s != B_OK) return s;
    Node* n = N(node);
    Locker locker(vol->lock);
    st->st_dev = vol->nsid;
    st->st_ino = n->id;
    st->st_mode = n->mode;
    st->st_nlink = n->IsDir() ? 2 : 1;
    st->st_size = static_cast<int64>(n->data.size());
    st->st_blksize = 512;
    st->st_mtim = st->st_ctim = st->st_atim = st->st_crtim = n->mtime;
    return B_OK;
}

int fs_wstat(void* ns, void* node, be_stat* st, long mask) {
    Volume* vol = Vol(ns);
    if (status_t s = Injected(vol, "wstat"); s != B_OK) return s;
    Node* n = N(node);
    {
        Locker locker(vol->lock);
        if ((mask & WSTAT_SIZE) && n->IsDir()) return B_IS_A_DIRECTORY;
        if (mask & WSTAT_MODE) n->mode = (n->mode & B_S_IFMT) | (st->st_mode & ~B_S_IFMT);
        if (mask & WSTAT_SIZE) {
            status_t status = ResizeLocked(vol, n, static_cast<size_t>(st->st_size));
            if (status != B_OK) return status;
        }
        if (mask & WSTAT_MTIME) n->mtime = st->st_mtim;
    }
    (void)notify_listener(B_STAT_CHANGED, vol->nsid, 0, 0, n->id, nullptr);
    return B_OK;
}

int fs_mount(nspace_id nsid, const char*, unsigned long, void* parms, size_t len, void** ns,
             vnode_id* root) {
    MountParams params;
    if (parms != nullptr && len == sizeof(MountParams)) std::memcpy(&params, parms, len);
    if (params.mountStatus != B_OK) return params.mountStatus;
    if (params.probeWhere != nullptr && params.probeStatus != nullptr)
        *params.probeStatus = kernel_volume_at(params.probeWhere, nullptr, nullptr);
    auto* vol = new Volume;
    vol->nsid = nsid;
    vol->params = params;
    Node& r = MakeNodeLocked(vol, 0, B_S_IFDIR | 0755);
    r.parent = r.id;
    {
        std::lock_guard<std::mutex> guard(gLock);
        gReports[nsid] = Report{};
        gVolumes[nsid] = vol;
    }
    if (params.publishRoot) {
        r.loaded = true;
        Count(nsid, r.id, &NodeCounts::loads);
        KernelCall call;
        status_t status = new_vnode(nsid, r.id, &r);
        if (status != B_OK) {
            std::lock_guard<std::mutex> guard(gLock);
            gVolumes.erase(nsid);
            delete vol;
            return status;
        }
    }
    *ns = vol;
    *root = r.id;
    return B_OK;
}

int fs_unmount(void* ns) {
    Volume* vol = Vol(ns);
    status_t status = Injected(vol, "unmount");
    for (auto& [id, node] : vol->nodes) {
        if (node->loaded) Violation(vol->nsid, "node " + std::to_string(id) + " still cached");
    }
    {
        std::lock_guard<std::mutex> guard(gLock);
        gReports[vol->nsid].unmounted = true;
        gVolumes.erase(vol->nsid);
    }
    delete vol;
    return status;
}

int fs_rfsstat(void* ns, fs_info* info) {
    Volume* vol = Vol(ns);
    if (status_t s = Injected(vol, "rfsstat"); s != B_OK) return s;
    Locker locker(vol->lock);
    info->flags = B_FS_HAS_ATTR | B_FS_IS_PERSISTENT;
    info->block_size = 512;
    info->io_size = 4096;
    info->total_nodes = static_cast<int64>(vol->nodes.size());
    if (vol->params.capacity > 0) {
        info->total_blocks = vol->params.capacity / info->block_size;
        info->free_blocks = (vol->params.capacity - vol->used) / info->block_size;
    }
    std::strcpy(info->device_name, "memory");
    std::strcpy(info->volume_name, "memfs");
    std::strcpy(info->fsh_name, "memfs");
    return B_OK;
}

int fs_open_attrdir(void* ns, void*, void** cookie) {
    if (status_t s = Injected(Vol(ns), "open_attrdir"); s != B_OK) return s;
    *cookie = new ListCookie;
    return B_OK;
}

int fs_read_attrdir(void* ns, void* node, void* cookie, long* num, be_dirent* buf, size_t bufsize) {
    Volume* vol = Vol(ns);
    auto* c = static_cast<ListCookie*>(cookie);
    Node* n = N(node);
    Locker locker(vol->lock);
    if (c->index >= n->attrs.size()) {
        *num = 0;
        return B_OK;
    }
    auto it = std::next(n->attrs.begin(), static_cast<long>(c->index));
    status_t status = FillEntry(buf, bufsize, vol->nsid, n->id, 0, it->first);
    if (status != B_OK) return status;
    c->index++;
    *num = 1;
    return B_OK;
}

int fs_write_attr(void* ns, void* node, const char* name, int type, const void* buf, size_t* len,
                  off_t pos) {
    Volume* vol = Vol(ns);
    if (status_t s = Injected(vol, "write_attr"); s != B_OK) return s;
    Node* n = N(node);
    {
        Locker locker(vol->lock);
        Attribute& a = n->attrs[name];
        a.type = static_cast<uint32>(type);
        const size_t at = static_cast<size_t>(pos);
        if (a.data.size() < at + *len) a.data.resize(at + *len);
        std::memcpy(a.data.data() + at, buf, *len);
    }
    (void)notify_listener(B_ATTR_CHANGED, vol->nsid, 0, 0, n->id, name);
    return B_OK;
}

int fs_read_attr(void* ns, void* node, const char* name, int, void* buf, size_t* len, off_t pos) {
    Volume* vol = Vol(ns);
    Node* n = N(node);
    Locker locker(vol->lock);
    auto it = n->attrs.find(name);
    if (it == n->attrs.end()) return B_ENTRY_NOT_FOUND;
    const size_t size = it->second.data.size();
    const size_t start = std::min(static_cast<size_t>(pos), size);
    *len = std::min(*len, size - start);
    std::memcpy(buf, it->second.data.data() + start, *len);
    return B_OK;
}

int fs_remove_attr(void* ns, void* node, const char* name) {
    Volume* vol = Vol(ns);
    Locker locker(vol->lock);
    return N(node)->attrs.erase(name) == 1 ? B_OK : B_ENTRY_NOT_FOUND;
}

int fs_rename_attr(void* ns, void* node, const char* oldname, const char* newname) {
    Volume* vol = Vol(ns);
    Node* n = N(node);
    Locker locker(vol->lock);
    auto it = n->attrs.find(oldname);
    if (it == n->attrs.end()) return B_ENTRY_NOT_FOUND;
    Attribute a = std::move(it->second);
    n->attrs.erase(it);
    n->attrs[newname] = std::move(a);
    return B_OK;
}

int fs_stat_attr(void* ns, void* node, const char* name, attr_info* info) {
    Volume* vol = Vol(ns);
    Node* n = N(node);
    Locker locker(vol->lock);
    auto it = n->attrs.find(name);
    if (it == n->attrs.end()) return B_ENTRY_NOT_FOUND;
    info->type = it->second.type;
    info->size = static_cast<int64>(it->second.data.size());
    return B_OK;
}

vnode_ops MakeTable() {
    vnode_ops ops{};
    ops.read_vnode = fs_read_vnode;
    ops.write_vnode = fs_write_vnode;
    ops.remove_vnode = fs_remove_vnode;
    ops.walk = fs_walk;
    ops.create = fs_create;
    ops.mkdir = fs_mkdir;
    ops.rename = fs_rename;
    ops.unlink = fs_unlink;
    ops.rmdir = fs_rmdir;
    ops.opendir = fs_opendir;
    ops.closedir = fs_close_list;
    ops.free_dircookie = fs_free_list_cookie;
    ops.rewinddir = fs_rewind_list;
    ops.readdir = fs_readdir;
    ops.open = fs_open;
    ops.close = fs_close;
    ops.free_cookie = fs_free_cookie;
    ops.read = fs_read;
    ops.write = fs_write;
    ops.rstat = fs_rstat;
    ops.wstat = fs_wstat;
    ops.mount = fs_mount;
    ops.unmount = fs_unmount;
    ops.rfsstat = fs_rfsstat;
    ops.open_attrdir = fs_open_attrdir;
    ops.close_attrdir = fs_close_list;
    ops.free_attrdircookie = fs_free_list_cookie;
    ops.rewind_attrdir = fs_rewind_list;
    ops.read_attrdir = fs_read_attrdir;
    ops.write_attr = fs_write_attr;
    ops.read_attr = fs_read_attr;
    ops.remove_attr = fs_remove_attr;
    ops.rename_attr = fs_rename_attr;
    ops.stat_attr = fs_stat_attr;
    return ops;
}

}  // namespace

const vnode_ops& Ops() {
    static const vnode_ops table = MakeTable();
    return table;
}

Report ReportOf(nspace_id nsid) {
    std::lock_guard<std::mutex> guard(gLock);
    return gReports[nsid];
}

void InjectFailure(nspace_id nsid, const std::string& op, status_t status) {
    std::lock_guard<std::mutex> guard(gLock);
    if (status == B_OK) {
        gFailures.erase({nsid, op});
    } else {
        gFailures[{nsid, op}] = status;
    }
}

namespace {
Volume* VolumeOf(nspace_id nsid) {
    std::lock_guard<std::mutex> guard(gLock);
    auto it = gVolumes.find(nsid);
    return it == gVolumes.end() ? nullptr : it->second;
}
}  // namespace

status_t GetFromAddOn(nspace_id nsid, vnode_id vnid) {
    KernelCall call;
    void* node = nullptr;
    return get_vnode(nsid, vnid, &node);
}

status_t PutFromAddOn(nspace_id nsid, vnode_id vnid) {
    Volume* vol = VolumeOf(nsid);
    if (vol == nullptr) return B_BAD_VALUE;
    Locker locker(vol->lock);
    KernelCall call;
    return put_vnode(nsid, vnid);
}

vnode_id IdOf(nspace_id nsid, const std::string& path) {
    Volume* vol = VolumeOf(nsid);
    if (vol == nullptr) return -1;
    Locker locker(vol->lock);
    vnode_id id = 1;
    size_t start = 0;
    while (start < path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        Node* d = FindLocked(vol, id);
        auto it = d->entries.find(path.substr(start, end - start));
        if (it == d->entries.end()) return -1;
        id = it->second;
        start = end + 1;
    }
    return id;
}

}  // namespace memfs
