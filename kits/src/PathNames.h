// Path helpers of the storage kit: resolving entry paths the way the platform names entries.
#pragma once

#include <string>

#include "platform/SupportDefs.h"

namespace kits_private {

// The current working directory; "/" when it cannot be had.
std::string CurrentDirectory();

// Resolves `path` (relative ones from `base`) to an entry path: the directory part resolved
// by the file system (it must exist), the leaf kept unless it is "." or "..", or unless
// traverse is set and the leaf is a symbolic link, whose target then becomes the entry.
[[nodiscard]] status_t ResolveEntryPath(const std::string& base, const char* path, bool traverse,
                                        std::string* resolved);

// The platform status for an errno of a path call.
status_t StatusFromErrno(int error);

// "/a/b" -> "/a", "/a" -> "/"; false for "/".
bool ParentPath(const std::string& path, std::string* parent);
// The text after the last "/" ("" for "/").
std::string LeafOf(const std::string& path);

}  // namespace kits_private
