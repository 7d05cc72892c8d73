// System calls on descriptors.
#include <algorithm>
#include <climits>
#include <cstddef>

#include "Descriptors.h"
#include "NodeOps.h"
#include "kernel/syscalls.h"

using namespace kernel;

namespace {

status_t FileDescriptor(int fd, std::shared_ptr<Descriptor>* out) {
    status_t status = LookupAnyDescriptor(fd, out);
    if (status != B_OK) return status;
    if ((*out)->kind() != DescriptorKind::file) return B_IS_A_DIRECTORY;
    return B_OK;
}

// Reads one entry of a listing into `entry`: 1, 0 at the end, or a status.
template <typename Slot>
int ReadEntry(const Descriptor& d, Slot* slot, be_dirent* entry, size_t bufsize) {
    if (entry == nullptr || bufsize <= offsetof(be_dirent, d_name)) return B_BAD_VALUE;
    if (slot == nullptr) return B_UNSUPPORTED;
    long count = 1;
    status_t status = slot(d.node().cookie(), d.node().node(), d.cookie(), &count, entry, bufsize);
    if (status != B_OK) return status;
    if (count <= 0) return 0;
    // Whatever the add-on wrote, the name ends inside the buffer and inside d_name (not in the
    // record's padding beyond it).
    const size_t room = std::min(bufsize - offsetof(be_dirent, d_name), sizeof(entry->d_name));
    entry->d_name[room - 1] = '\0';
    return 1;
}

// Reads the next entry of the listing `fd` of `kind` with the operation `slot` picks.
template <typename Slot>
int ReadListing(int fd, DescriptorKind kind, Slot* vnode_ops::*slot, be_dirent* entry,
                size_t bufsize) {
    std::shared_ptr<Descriptor> d;
    status_t status = LookupDescriptor(fd, kind, &d);
    if (status != B_OK) return status;
    return ReadEntry(*d, d->node().ops().*slot, entry, bufsize);
}

// Starts the listing `fd` of `kind` again from its first entry.
int RewindListing(int fd, DescriptorKind kind, op_rewinddir* vnode_ops::*slot) {
    std::shared_ptr<Descriptor> d;
    status_t status = LookupDescriptor(fd, kind, &d);
    if (status != B_OK) return status;
    op_rewinddir* rewind = d->node().ops().*slot;
    if (rewind == nullptr) return B_UNSUPPORTED;
    return rewind(d->node().cookie(), d->node().node(), d->cookie());
}

// read and write: up to `len` bytes at `pos` with the operation `slot` picks, on a file that was
// not opened for the other direction only (`refused`).
template <typename Slot, typename Buffer>
ssize_t Transfer(int fd, int refused, Slot* vnode_ops::*slot, off_t pos, Buffer* buf, size_t len) {
    std::shared_ptr<Descriptor> d;
    status_t status = FileDescriptor(fd, &d);
    if (status != B_OK) return status;
    if ((d->omode() & B_O_ACCMODE) == refused) return B_FILE_ERROR;
    if (pos < 0 || (buf == nullptr && len > 0)) return B_BAD_VALUE;
    Slot* transfer = d->node().ops().*slot;
    if (transfer == nullptr) return B_UNSUPPORTED;
    len = std::min<size_t>(len, SSIZE_MAX);
    size_t done = len;
    status = transfer(d->node().cookie(), d->node().node(), d->cookie(), pos, buf, &done);
    if (status != B_OK) return status;
    return static_cast<ssize_t>(std::min(done, len));
}

int CloseListing(int fd, DescriptorKind kind) {
    std::shared_ptr<Descriptor> d;
    status_t status = RemoveDescriptor(fd, &kind, &d);
    if (status != B_OK) return status;
    return d->Close();
}

}  // namespace

extern "C" int sys_close(int fd) {
    std::shared_ptr<Descriptor> d;
    status_t status = RemoveDescriptor(fd, nullptr, &d);
    if (status != B_OK) return status;
    return d->Close();
}

extern "C" ssize_t sys_read(int fd, off_t pos, void* buf, size_t len) {
    return Transfer(fd, B_O_WRONLY, &vnode_ops::read, pos, buf, len);
}

extern "C" ssize_t sys_write(int fd, off_t pos, const void* buf, size_t len) {
    return Transfer(fd, B_O_RDONLY, &vnode_ops::write, pos, buf, len);
}

extern "C" int sys_fstat(int fd, be_stat* st) {
    std::shared_ptr<Descriptor> d;
    status_t status = LookupAnyDescriptor(fd, &d);
    if (status != B_OK) return status;
    return StatNode(d->node(), st);
}

extern "C" int sys_readdir(int fd, be_dirent* entry, size_t bufsize) {
    return ReadListing(fd, DescriptorKind::directory, &vnode_ops::readdir, entry, bufsize);
}

extern "C" int sys_rewinddir(int fd) {
    return RewindListing(fd, DescriptorKind::directory, &vnode_ops::rewinddir);
}

extern "C" int sys_closedir(int fd) { return CloseListing(fd, DescriptorKind::directory); }

extern "C" int sys_read_attrdir(int fd, be_dirent* entry, size_t bufsize) {
    return ReadListing(fd, DescriptorKind::attributes, &vnode_ops::read_attrdir, entry, bufsize);
}

extern "C" int sys_rewind_attrdir(int fd) {
    return RewindListing(fd, DescriptorKind::attributes, &vnode_ops::rewind_attrdir);
}

extern "C" int sys_close_attrdir(int fd) { return CloseListing(fd, DescriptorKind::attributes); }
