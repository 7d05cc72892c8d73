#include "RecordingFs.h"

#include <cstring>
#include <map>

#include "kernel/syscalls.h"

namespace {

struct Volume {
    nspace_id nsid;
    std::string device;
};

std::mutex fsLock;
std::vector<SeenMount> seenMounts;
std::vector<std::string> seenUnmounts;
std::map<std::string, status_t> failures;
int liveVolumes = 0;

int Mount(const char* name, nspace_id nsid, size_t length, void* parms, void** ns, vnode_id* root) {
    SeenMount seen{name, {}, length};
    if (parms == nullptr || length != sizeof(mnt)) {
        return B_BAD_VALUE;
    }
    memcpy(&seen.block, parms, sizeof(mnt));
    std::string device(seen.block.device, strnlen(seen.block.device, MNT_NAME_LENGTH));
    {
        std::lock_guard<std::mutex> guard(fsLock);
        seenMounts.push_back(seen);
        auto failure = failures.find(device);
        if (failure != failures.end()) {
            return failure->second;
        }
    }
    auto* volume = new Volume{nsid, device};
    *ns = volume;
    *root = 1;
    int status = new_vnode(nsid, 1, volume);
    if (status != B_OK) {
        delete volume;
        return status;
    }
    std::lock_guard<std::mutex> guard(fsLock);
    liveVolumes++;
    return B_OK;
}

int Mount3(nspace_id nsid, const char*, unsigned long, void* parms, size_t len, void** ns,
           vnode_id* root) {
    return Mount("tavro3", nsid, len, parms, ns, root);
}

int Mount5(nspace_id nsid, const char*, unsigned long, void* parms, size_t len, void** ns,
           vnode_id* root) {
    return Mount("tavro5", nsid, len, parms, ns, root);
}

int Unmount(void* ns) {
    auto* volume = static_cast<Volume*>(ns);
    {
        std::lock_guard<std::mutex> guard(fsLock);
        seenUnmounts.push_back(volume->device);
        liveVolumes--;
    }
    delete volume;
    return B_OK;
}

int ReadVnode(void* ns, vnode_id vnid, char, void** node) {
    if (vnid != 1) {
        return B_ENTRY_NOT_FOUND;
    }
    *node = ns;
    return B_OK;
}

int WriteVnode(void*, void*, char) { return B_OK; }

int Walk(void* ns, void*, const char* name, char**, vnode_id* vnid) {
    if (strcmp(name, ".") != 0 && strcmp(name, "..") != 0) {
        return B_ENTRY_NOT_FOUND;
    }
    void* node;
    int status = get_vnode(static_cast<Volume*>(ns)->nsid, 1, &node);
    if (status == B_OK) {
        *vnid = 1;
    }
    return status;
}

int Access(void*, void*, int) { return B_OK; }

int Rstat(void* ns, void*, be_stat* st) {
    memset(st, 0, sizeof(*st));
    st->st_dev = static_cast<Volume*>(ns)->nsid;
    st->st_ino = 1;
    st->st_mode = B_S_IFDIR | 0755;
    st->st_nlink = 1;
    return B_OK;
}

int OpenDir(void*, void*, void** cookie) {
    *cookie = nullptr;
    return B_OK;
}

int CloseDir(void*, void*, void*) { return B_OK; }
int FreeDirCookie(void*, void*, void*) { return B_OK; }
int RewindDir(void*, void*, void*) { return B_OK; }

int ReadDir(void*, void*, void*, long* num, be_dirent*, size_t) {
    *num = 0;
    return B_OK;
}

vnode_ops MakeTable(op_mount* mount) {
    vnode_ops ops{};
    ops.read_vnode = ReadVnode;
    ops.write_vnode = WriteVnode;
    ops.walk = Walk;
    ops.access = Access;
    ops.opendir = OpenDir;
    ops.closedir = CloseDir;
    ops.free_dircookie = FreeDirCookie;
    ops.rewinddir = RewindDir;
    ops.readdir = ReadDir;
    ops.rstat = Rstat;
    ops.mount = mount;
    ops.unmount = Unmount;
    return ops;
}

const vnode_ops tavro3Ops = MakeTable(Mount3);
const vnode_ops tavro5Ops = MakeTable(Mount5);

}  // namespace

RecordingFs::RecordingFs() {
    {
        std::lock_guard<std::mutex> guard(fsLock);
        seenMounts.clear();
        seenUnmounts.clear();
        failures.clear();
        liveVolumes = 0;
    }
    kernel_register_fs("tavro3", &tavro3Ops, B_CURRENT_FS_API_VERSION);
    kernel_register_fs("tavro5", &tavro5Ops, B_CURRENT_FS_API_VERSION);
}

RecordingFs::~RecordingFs() {
    kernel_unregister_fs("tavro3");
    kernel_unregister_fs("tavro5");
}

void RecordingFs::FailMount(const std::string& device, status_t status) {
    std::lock_guard<std::mutex> guard(fsLock);
    failures[device] = status;
}

std::vector<SeenMount> RecordingFs::Mounts() const {
    std::lock_guard<std::mutex> guard(fsLock);
    return seenMounts;
}

Drives RecordingFs::MountedDrives() const {
    Drives drives;
    for (const SeenMount& mount : Mounts()) {
        drives.emplace_back(
            std::string(mount.block.device, strnlen(mount.block.device, MNT_NAME_LENGTH)),
            std::string(mount.block.path, strnlen(mount.block.path, MNT_NAME_LENGTH)));
    }
    return drives;
}

std::vector<std::string> RecordingFs::Unmounts() const {
    std::lock_guard<std::mutex> guard(fsLock);
    return seenUnmounts;
}

int RecordingFs::LiveVolumes() const {
    std::lock_guard<std::mutex> guard(fsLock);
    return liveVolumes;
}
