#include "Descriptors.h"

#include <mutex>
#include <set>
#include <vector>

namespace kernel {

namespace {

constexpr int kMaxDescriptors = 65536;

struct DescriptorTable {
    std::mutex lock;
    std::vector<std::shared_ptr<Descriptor>> slots;
    std::set<int> free;  // free slots below slots.size(), lowest first
};

DescriptorTable& table() {
    static DescriptorTable* t = new DescriptorTable;
    return *t;
}

}  // namespace

Descriptor::Descriptor(VnodeRef node, void* cookie, int omode, DescriptorKind kind)
    : node_(std::move(node)), cookie_(cookie), omode_(omode), kind_(kind) {
    node_.volume().DescriptorOpened();
}

Descriptor::~Descriptor() {
    const vnode_ops& ops = node_.ops();
    void* ns = node_.cookie();
    void* node = node_.node();
    switch (kind_) {
        case DescriptorKind::file:
            if (ops.free_cookie != nullptr) ops.free_cookie(ns, node, cookie_);
            break;
        case DescriptorKind::directory:
            if (ops.free_dircookie != nullptr) ops.free_dircookie(ns, node, cookie_);
            break;
        case DescriptorKind::attributes:
            if (ops.free_attrdircookie != nullptr) ops.free_attrdircookie(ns, node, cookie_);
            break;
    }
    std::shared_ptr<Volume> volume = node_.shared_volume();
    node_.Reset();
    volume->DescriptorClosed();
}

status_t Descriptor::Close() {
    const vnode_ops& ops = node_.ops();
    void* ns = node_.cookie();
    void* node = node_.node();
    switch (kind_) {
        case DescriptorKind::file:
            return ops.close != nullptr ? ops.close(ns, node, cookie_) : B_OK;
        case DescriptorKind::directory:
            return ops.closedir != nullptr ? ops.closedir(ns, node, cookie_) : B_OK;
        case DescriptorKind::attributes:
            return ops.close_attrdir != nullptr ? ops.close_attrdir(ns, node, cookie_) : B_OK;
    }
    return B_OK;
}

int InstallDescriptor(std::shared_ptr<Descriptor> descriptor) {
    {
        DescriptorTable& t = table();
        std::lock_guard<std::mutex> guard(t.lock);
        if (!t.free.empty()) {
            int fd = *t.free.begin();
            t.free.erase(t.free.begin());
            t.slots[fd] = std::move(descriptor);
            return fd;
        }
        if (t.slots.size() < kMaxDescriptors) {
            t.slots.push_back(std::move(descriptor));
            return static_cast<int>(t.slots.size() - 1);
        }
    }
    descriptor->Close();
    return B_NO_MORE_FDS;
}

status_t LookupAnyDescriptor(int fd, std::shared_ptr<Descriptor>* out) {
    DescriptorTable& t = table();
    std::lock_guard<std::mutex> guard(t.lock);
    if (fd < 0 || static_cast<size_t>(fd) >= t.slots.size() || t.slots[fd] == nullptr) {
        return B_FILE_ERROR;
    }
    *out = t.slots[fd];
    return B_OK;
}

status_t LookupDescriptor(int fd, DescriptorKind kind, std::shared_ptr<Descriptor>* out) {
    std::shared_ptr<Descriptor> descriptor;
    status_t status = LookupAnyDescriptor(fd, &descriptor);
    if (status != B_OK) return status;
    if (descriptor->kind() != kind) return B_BAD_VALUE;
    *out = std::move(descriptor);
    return B_OK;
}

status_t RemoveDescriptor(int fd, const DescriptorKind* kind, std::shared_ptr<Descriptor>* out) {
    DescriptorTable& t = table();
    std::lock_guard<std::mutex> guard(t.lock);
    if (fd < 0 || static_cast<size_t>(fd) >= t.slots.size() || t.slots[fd] == nullptr) {
        return B_FILE_ERROR;
    }
    if (kind != nullptr && t.slots[fd]->kind() != *kind) return B_BAD_VALUE;
    *out = std::move(t.slots[fd]);
    t.slots[fd].reset();
    t.free.insert(fd);
    return B_OK;
}

}  // namespace kernel
