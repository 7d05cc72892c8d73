// Extended attributes of a node: the volume's attributes under their Linux names.
#pragma once

#include <string>
#include <vector>

#include "MountSession.h"
#include "XattrNames.h"

namespace fusebridge {

// The largest attribute value read or written through the mount.
constexpr size_t kMaxXattrSize = 65536;

[[nodiscard]] status_t read_attribute(MountSession& session, vnode_id vnid,
                                      const AttributeName& name, std::string* value);
// `flags` are setxattr's XATTR_CREATE and XATTR_REPLACE.
[[nodiscard]] status_t write_attribute(MountSession& session, vnode_id vnid,
                                       const AttributeName& name, const char* data, size_t size,
                                       int flags);
[[nodiscard]] status_t list_attributes(MountSession& session, vnode_id vnid,
                                       std::vector<std::string>* names);

}  // namespace fusebridge
