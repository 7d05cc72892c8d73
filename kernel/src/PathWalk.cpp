#include "PathWalk.h"

#include <cstring>

#include "Mounts.h"

namespace kernel {

VnodeRef& VnodeRef::operator=(VnodeRef&& other) noexcept {
    if (this != &other) {
        Reset();
        volume_ = std::move(other.volume_);
        id_ = other.id_;
        node_ = other.node_;
        other.volume_.reset();
    }
    return *this;
}

void VnodeRef::Reset() {
    if (volume_ != nullptr) {
        volume_->Put(id_, false);
        volume_.reset();
    }
}

vnode_id VnodeRef::Detach() {
    volume_.reset();
    return id_;
}

status_t SplitPath(const char* path, std::vector<std::string>* components) {
    if (path == nullptr || path[0] != '/') return B_BAD_VALUE;
    if (std::strlen(path) >= B_PATH_NAME_LENGTH) return B_NAME_TOO_LONG;
    components->clear();
    const char* p = path;
    while (*p != '\0') {
        while (*p == '/') p++;
        if (*p == '\0') break;
        const char* end = std::strchr(p, '/');
        size_t length = end == nullptr ? std::strlen(p) : static_cast<size_t>(end - p);
        if (length >= B_FILE_NAME_LENGTH) return B_NAME_TOO_LONG;
        components->emplace_back(p, length);
        p += length;
    }
    // "." changes nothing, except as the last component, where it says "this directory".
    std::vector<std::string> kept;
    for (size_t i = 0; i < components->size(); i++) {
        if ((*components)[i] == "." && i + 1 < components->size()) continue;
        kept.push_back(std::move((*components)[i]));
    }
    *components = std::move(kept);
    return B_OK;
}

std::string JoinPath(const std::vector<std::string>& components, size_t count) {
    std::string path;
    for (size_t i = 0; i < count; i++) path += "/" + components[i];
    return path.empty() ? "/" : path;
}

status_t CheckName(const char* name) {
    if (name == nullptr || name[0] == '\0') return B_BAD_VALUE;
    if (std::strchr(name, '/') != nullptr) return B_BAD_VALUE;
    if (std::strlen(name) >= B_FILE_NAME_LENGTH) return B_NAME_TOO_LONG;
    return B_OK;
}

status_t GetNode(const std::shared_ptr<Volume>& volume, vnode_id vnid, VnodeRef* out) {
    void* node = nullptr;
    status_t status = volume->Get(vnid, &node, false);
    if (status != B_OK) return status;
    *out = VnodeRef(volume, vnid, node);
    return B_OK;
}

status_t AdoptNode(const std::shared_ptr<Volume>& volume, vnode_id vnid, VnodeRef* out) {
    void* node = nullptr;
    // The add-on said it took a reference; a node that is not cached means it did not.
    if (!volume->Peek(vnid, &node)) return B_BAD_VALUE;
    *out = VnodeRef(volume, vnid, node);
    return B_OK;
}

status_t WalkOne(const VnodeRef& dir, const char* name, VnodeRef* out) {
    if (std::strcmp(name, ".") == 0 ||
        (std::strcmp(name, "..") == 0 && dir.id() == dir.volume().Root())) {
        return GetNode(dir.shared_volume(), dir.id(), out);
    }
    status_t status = CheckName(name);
    if (status != B_OK) return status;
    if (dir.ops().walk == nullptr) return B_UNSUPPORTED;
    vnode_id vnid = 0;
    status = dir.ops().walk(dir.cookie(), dir.node(), name, nullptr, &vnid);
    if (status != B_OK) return status;
    return AdoptNode(dir.shared_volume(), vnid, out);
}

namespace {

status_t StartAtVolume(const std::vector<std::string>& components, size_t* consumed,
                       VnodeRef* root) {
    std::shared_ptr<Volume> volume = VolumeForPath(components, consumed);
    if (volume == nullptr) return B_ENTRY_NOT_FOUND;
    void* node = nullptr;
    status_t status = volume->GetRoot(&node);
    if (status != B_OK) return status;
    *root = VnodeRef(volume, volume->Root(), node);
    return B_OK;
}

status_t WalkComponents(VnodeRef start, const std::vector<std::string>& components, size_t from,
                        size_t to, VnodeRef* out) {
    VnodeRef current = std::move(start);
    for (size_t i = from; i < to; i++) {
        VnodeRef next;
        status_t status = WalkOne(current, components[i].c_str(), &next);
        if (status != B_OK) return status;
        current = std::move(next);
    }
    *out = std::move(current);
    return B_OK;
}

// Splits `path` and finds the volume it starts on: `root` is that volume's root and
// `consumed` the components that led there.
status_t StartWalk(const char* path, std::vector<std::string>* components, size_t* consumed,
                   VnodeRef* root) {
    status_t status = SplitPath(path, components);
    if (status != B_OK) return status;
    return StartAtVolume(*components, consumed, root);
}

}  // namespace

status_t ResolvePath(const char* path, VnodeRef* out) {
    std::vector<std::string> components;
    size_t consumed = 0;
    VnodeRef root;
    status_t status = StartWalk(path, &components, &consumed, &root);
    if (status != B_OK) return status;
    return WalkComponents(std::move(root), components, consumed, components.size(), out);
}

status_t ResolveParent(const char* path, VnodeRef* dir, std::string* leaf) {
    std::vector<std::string> components;
    size_t consumed = 0;
    VnodeRef root;
    status_t status = StartWalk(path, &components, &consumed, &root);
    if (status != B_OK) return status;
    if (consumed == components.size()) {
        leaf->clear();
        *dir = std::move(root);
        return B_OK;
    }
    *leaf = components.back();
    return WalkComponents(std::move(root), components, consumed, components.size() - 1, dir);
}

}  // namespace kernel
