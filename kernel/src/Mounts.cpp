#include "Mounts.h"

#include <map>
#include <mutex>
#include <set>

#include "PathWalk.h"
#include "kernel/syscalls.h"

namespace kernel {

namespace {

struct MountTable {
    std::mutex lock;
    std::map<nspace_id, std::shared_ptr<Volume>> byId;
    std::map<std::string, std::shared_ptr<Volume>> byPoint;
    std::set<nspace_id> unmounting;  // an unmount is under way (only one at a time)
    nspace_id nextId = 1;
    kernel_mount_observer observer{};
};

MountTable& table() {
    static MountTable* t = new MountTable;
    return *t;
}

kernel_mount_observer Observer() {
    std::lock_guard<std::mutex> guard(table().lock);
    return table().observer;
}

void Forget(const std::shared_ptr<Volume>& volume, bool point) {
    MountTable& t = table();
    std::lock_guard<std::mutex> guard(t.lock);
    if (point) {
        auto it = t.byPoint.find(volume->Where());
        if (it != t.byPoint.end() && it->second == volume) t.byPoint.erase(it);
    }
    t.byId.erase(volume->Id());
    t.unmounting.erase(volume->Id());
}

// A mount point: absolute, no "." or ".." components.
status_t MountPoint(const char* where, std::string* point) {
    std::vector<std::string> components;
    status_t status = SplitPath(where, &components);
    if (status != B_OK) return status;
    for (const std::string& c : components) {
        if (c == "." || c == "..") return B_BAD_VALUE;
    }
    *point = JoinPath(components, components.size());
    return B_OK;
}

}  // namespace

std::shared_ptr<Volume> VolumeById(nspace_id nsid) {
    MountTable& t = table();
    std::lock_guard<std::mutex> guard(t.lock);
    auto it = t.byId.find(nsid);
    return it == t.byId.end() ? nullptr : it->second;
}

std::shared_ptr<Volume> VolumeForPath(const std::vector<std::string>& components,
                                      size_t* consumed) {
    MountTable& t = table();
    std::lock_guard<std::mutex> guard(t.lock);
    for (size_t count = components.size() + 1; count-- > 0;) {
        auto it = t.byPoint.find(JoinPath(components, count));
        if (it != t.byPoint.end()) {
            *consumed = count;
            return it->second;
        }
    }
    return nullptr;
}

std::vector<std::shared_ptr<Volume>> AllVolumes() {
    MountTable& t = table();
    std::lock_guard<std::mutex> guard(t.lock);
    std::vector<std::shared_ptr<Volume>> all;
    for (auto& [id, volume] : t.byId) all.push_back(volume);
    return all;
}

}  // namespace kernel

using namespace kernel;

int mount(const char* filesystem, const char* where, const char* device, uint32 flags,
          void* parameters, int32 length) {
    if (filesystem == nullptr || length < 0) return B_BAD_VALUE;
    std::string point;
    status_t status = MountPoint(where, &point);
    if (status != B_OK) return status;
    std::shared_ptr<const FileSystem> fs;
    status = FindFileSystem(filesystem, &fs);
    if (status != B_OK) return status;
    if (fs->ops.mount == nullptr) return B_UNSUPPORTED;

    std::shared_ptr<Volume> volume;
    {
        MountTable& t = table();
        std::lock_guard<std::mutex> guard(t.lock);
        if (t.byPoint.count(point) != 0) return B_BUSY;
        volume = std::make_shared<Volume>(t.nextId++, point, fs);
        // Known by id at once, so that the add-on's new_vnode works from inside its mount.
        t.byId.emplace(volume->Id(), volume);
        t.byPoint.emplace(point, volume);
    }
    void* cookie = nullptr;
    vnode_id root = 0;
    status = fs->ops.mount(volume->Id(), device, flags, parameters, static_cast<size_t>(length),
                           &cookie, &root);
    if (status == B_OK) {
        status = volume->FinishMount(cookie, root);
        if (status != B_OK && fs->ops.unmount != nullptr) fs->ops.unmount(cookie);
    }
    if (status != B_OK) {
        volume->AbandonMount();
        Forget(volume, true);
        return status;
    }
    kernel_mount_observer observer = Observer();
    if (observer.mounted != nullptr) {
        status = observer.mounted(observer.context, volume->Id(), root, point.c_str());
        // Not exported: the volume goes again, unless something took a reference meanwhile
        // (then it stays, and is unmounted later like any other).
        if (status != B_OK && volume->BeginUnmount() == B_OK) {
            {
                std::lock_guard<std::mutex> guard(table().lock);
                table().byPoint.erase(point);
            }
            (void)volume->FinishUnmount();
            Forget(volume, false);
            return status;
        }
    }
    return B_OK;
}

int unmount(const char* where) {
    std::string point;
    status_t status = MountPoint(where, &point);
    if (status != B_OK) return status;
    std::shared_ptr<Volume> volume;
    {
        MountTable& t = table();
        std::lock_guard<std::mutex> guard(t.lock);
        auto it = t.byPoint.find(point);
        if (it == t.byPoint.end()) return B_BAD_VALUE;
        volume = it->second;
        // Still mounting, or another unmount under way.
        if (!volume->IsMounted() || !t.unmounting.insert(volume->Id()).second) return B_BUSY;
    }
    kernel_mount_observer observer = Observer();
    if (observer.unmounting != nullptr) {
        status = observer.unmounting(observer.context, volume->Id(), point.c_str());
        if (status != B_OK) {
            std::lock_guard<std::mutex> guard(table().lock);
            table().unmounting.erase(volume->Id());
            return status;
        }
    }
    status = volume->BeginUnmount();
    if (status != B_OK) {
        {
            std::lock_guard<std::mutex> guard(table().lock);
            table().unmounting.erase(volume->Id());
        }
        // The observer let the volume go; it stays, so tell the observer it is still there.
        if (observer.mounted != nullptr) {
            (void)observer.mounted(observer.context, volume->Id(), volume->Root(), point.c_str());
        }
        return status;
    }
    {
        std::lock_guard<std::mutex> guard(table().lock);
        table().byPoint.erase(point);
    }
    status = volume->FinishUnmount();
    Forget(volume, false);
    return status;
}

extern "C" void kernel_set_unused_vnode_limit(int32 limit) {
    SetUnusedVnodeLimit(limit);
    for (const auto& volume : AllVolumes()) volume->Trim();
}

extern "C" void kernel_set_mount_observer(const kernel_mount_observer* observer) {
    std::lock_guard<std::mutex> guard(table().lock);
    table().observer = observer != nullptr ? *observer : kernel_mount_observer{};
}

extern "C" int32 kernel_vnode_refcount(nspace_id nsid, vnode_id vnid) {
    std::shared_ptr<Volume> volume = VolumeById(nsid);
    return volume == nullptr ? -1 : volume->RefCount(vnid);
}

extern "C" int32 kernel_cached_vnodes(nspace_id nsid) {
    std::shared_ptr<Volume> volume = VolumeById(nsid);
    return volume == nullptr ? B_BAD_VALUE : volume->CachedCount();
}

extern "C" void* kernel_volume_cookie(nspace_id nsid) {
    std::shared_ptr<Volume> volume = VolumeById(nsid);
    return volume == nullptr ? nullptr : volume->Cookie();
}

extern "C" status_t kernel_volume_at(const char* where, nspace_id* nsid, vnode_id* root) {
    std::string point;
    status_t status = MountPoint(where, &point);
    if (status != B_OK) return status;
    std::lock_guard<std::mutex> guard(table().lock);
    auto it = table().byPoint.find(point);
    if (it == table().byPoint.end()) return B_ENTRY_NOT_FOUND;
    if (!it->second->IsMounted()) return B_BUSY;
    if (nsid != nullptr) *nsid = it->second->Id();
    if (root != nullptr) *root = it->second->Root();
    return B_OK;
}
