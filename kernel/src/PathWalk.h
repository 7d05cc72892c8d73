// Paths of the kernel namespace and the walk through a volume's directories.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Volume.h"

namespace kernel {

// One reference on a cached node, given back (put, not re-entered) when dropped.
class VnodeRef {
public:
    VnodeRef() = default;
    VnodeRef(std::shared_ptr<Volume> volume, vnode_id vnid, void* node)
        : volume_(std::move(volume)), id_(vnid), node_(node) {}
    VnodeRef(VnodeRef&& other) noexcept { *this = std::move(other); }
    VnodeRef& operator=(VnodeRef&& other) noexcept;
    VnodeRef(const VnodeRef&) = delete;
    VnodeRef& operator=(const VnodeRef&) = delete;
    ~VnodeRef() { Reset(); }

    void Reset();
    // Hands the reference to the caller, who gives it back later (vfs_put).
    vnode_id Detach();

    explicit operator bool() const { return volume_ != nullptr; }
    Volume& volume() const { return *volume_; }
    const std::shared_ptr<Volume>& shared_volume() const { return volume_; }
    vnode_id id() const { return id_; }
    void* node() const { return node_; }
    void* cookie() const { return volume_->Cookie(); }
    const vnode_ops& ops() const { return volume_->Ops(); }

private:
    std::shared_ptr<Volume> volume_;
    vnode_id id_ = 0;
    void* node_ = nullptr;
};

// Splits an absolute path into components, dropping empty ones and "." except a final one.
[[nodiscard]] status_t SplitPath(const char* path, std::vector<std::string>* components);
std::string JoinPath(const std::vector<std::string>& components, size_t count);

// A name handed to an add-on: not empty, no "/", shorter than B_FILE_NAME_LENGTH.
[[nodiscard]] status_t CheckName(const char* name);

// Takes a kernel reference (read_vnode if not cached).
[[nodiscard]] status_t GetNode(const std::shared_ptr<Volume>& volume, vnode_id vnid, VnodeRef* out);
// Wraps a reference that an add-on took for the kernel (walk, create).
[[nodiscard]] status_t AdoptNode(const std::shared_ptr<Volume>& volume, vnode_id vnid,
                                 VnodeRef* out);
// One step: "." stays, ".." at the volume's root stays, anything else is the add-on's walk.
[[nodiscard]] status_t WalkOne(const VnodeRef& dir, const char* name, VnodeRef* out);
[[nodiscard]] status_t ResolvePath(const char* path, VnodeRef* out);
// The directory holding the path's last component, and that component. `leaf` is empty when
// the path names a volume's root.
[[nodiscard]] status_t ResolveParent(const char* path, VnodeRef* dir, std::string* leaf);

}  // namespace kernel
