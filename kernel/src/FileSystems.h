// The file systems the kernel knows: tables registered by name, and add-ons loaded with
// dlopen from the add-on path.
#pragma once

#include <memory>
#include <string>

#include "kernel/fs_interface.h"

namespace kernel {

struct FileSystem {
    std::string name;
    vnode_ops ops{};
};

// The file system called `name`: a registered table, else "<name>.so" from the add-on path.
// B_NAME_NOT_FOUND when there is none, B_NOT_AN_EXECUTABLE when the object cannot be loaded
// or lacks its exports, B_MISMATCHED_VALUES for another api_version.
[[nodiscard]] status_t FindFileSystem(const char* name, std::shared_ptr<const FileSystem>* fs);

}  // namespace kernel
