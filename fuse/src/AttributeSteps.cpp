// Extended attributes of a node: the volume's attributes under Linux names.
#include "AttributeSteps.h"

#include <sys/xattr.h>

#include "kernel/syscalls.h"

namespace fusebridge {

[[nodiscard]] status_t read_attribute(MountSession& session, vnode_id vnid,
                                      const AttributeName& name, std::string* value) {
    attr_info info{};
    status_t status = vfs_stat_attr(session.nsid(), vnid, name.name.c_str(), &info);
    if (status != B_OK) return status;
    if (info.size < 0 || static_cast<uint64_t>(info.size) > kMaxXattrSize) return B_BAD_VALUE;
    value->resize(static_cast<size_t>(info.size));
    ssize_t count = vfs_read_attr(session.nsid(), vnid, name.name.c_str(), info.type, 0,
                                  value->data(), value->size());
    if (count < 0) return static_cast<status_t>(count);
    value->resize(static_cast<size_t>(count));
    if (name.mime) *value = std::string(mime_from_attribute_value(*value));
    return B_OK;
}

[[nodiscard]] status_t write_attribute(MountSession& session, vnode_id vnid,
                                       const AttributeName& name, const char* data, size_t size,
                                       int flags) {
    std::string value =
        name.mime ? mime_attribute_value(std::string_view(data, size)) : std::string(data, size);
    attr_info info{};
    status_t found = vfs_stat_attr(session.nsid(), vnid, name.name.c_str(), &info);
    if (found != B_OK && found != B_ENTRY_NOT_FOUND) return found;
    bool exists = found == B_OK;
    if ((flags & XATTR_CREATE) && exists) return B_FILE_EXISTS;
    if ((flags & XATTR_REPLACE) && !exists) return B_ENTRY_NOT_FOUND;
    uint32 type = exists ? info.type : (name.mime ? B_MIME_STRING_TYPE : B_RAW_TYPE);
    // A write at 0 need not cut what lies beyond it: a shorter value replaces the old one.
    if (exists && static_cast<uint64_t>(info.size) > value.size()) {
        status_t status = vfs_remove_attr(session.nsid(), vnid, name.name.c_str());
        if (status != B_OK) return status;
    }
    ssize_t count = vfs_write_attr(session.nsid(), vnid, name.name.c_str(), type, 0, value.data(),
                                   value.size());
    if (count < 0) return static_cast<status_t>(count);
    return B_OK;
}

[[nodiscard]] status_t list_attributes(MountSession& session, vnode_id vnid,
                                       std::vector<std::string>* names) {
    int fd = vfs_open_attrdir(session.nsid(), vnid);
    // The volume refuses to open the attribute directory of a node that has no attributes.
    if (fd == B_BAD_VALUE) return B_OK;
    if (fd < 0) return fd;
    status_t status = B_OK;
    be_dirent entry{};
    for (;;) {
        int count = sys_read_attrdir(fd, &entry, sizeof entry);
        if (count <= 0) {
            status = count;
            break;
        }
        entry.d_name[sizeof entry.d_name - 1] = '\0';
        names->emplace_back(entry.d_name);
    }
    (void)sys_close_attrdir(fd);
    return status;
}
}  // namespace fusebridge
