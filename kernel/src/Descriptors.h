// Descriptors: open files, directory listings and attribute listings.
#pragma once

#include <memory>

#include "PathWalk.h"

namespace kernel {

enum class DescriptorKind { file, directory, attributes };

// Holds a reference on its node. The add-on's cookie is freed (free_cookie, free_dircookie or
// free_attrdircookie) when the last user lets go: a close while another thread is still
// reading leaves the cookie alive until that read returns.
class Descriptor {
public:
    Descriptor(VnodeRef node, void* cookie, int omode, DescriptorKind kind);
    ~Descriptor();
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    // The add-on's close, closedir or close_attrdir.
    status_t Close();

    const VnodeRef& node() const { return node_; }
    void* cookie() const { return cookie_; }
    int omode() const { return omode_; }
    DescriptorKind kind() const { return kind_; }

private:
    VnodeRef node_;
    void* const cookie_;
    const int omode_;
    const DescriptorKind kind_;
};

// A descriptor number, or B_NO_MORE_FDS (the descriptor is then closed and dropped).
int InstallDescriptor(std::shared_ptr<Descriptor> descriptor);
// The descriptor, if `fd` is open and of that kind; else B_FILE_ERROR (not open) or
// B_BAD_VALUE (another kind).
[[nodiscard]] status_t LookupDescriptor(int fd, DescriptorKind kind,
                                        std::shared_ptr<Descriptor>* out);
[[nodiscard]] status_t LookupAnyDescriptor(int fd, std::shared_ptr<Descriptor>* out);
// Takes the descriptor out of the table; with `kind`, only a descriptor of that kind.
[[nodiscard]] status_t RemoveDescriptor(int fd, const DescriptorKind* kind,
                                        std::shared_ptr<Descriptor>* out);

}  // namespace kernel
