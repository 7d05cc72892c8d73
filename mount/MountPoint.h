// Names taken from device replies into the fixed 128-byte fields of the mount block, and the
// mount point path made from the mount root and a volume name. Device replies are untrusted:
// nothing here reads past the bytes received or writes past a field.
#pragma once

#include <cstddef>

#include "platform/Errors.h"
#include "platform/SupportDefs.h"

// Copies the NUL-terminated string at `offset` of a reply of `received` bytes into `dest`.
// False (and `dest` untouched) when the string's terminator is not among the bytes received or
// the string does not fit `destSize` with its NUL.
[[nodiscard]] bool CopyReplyString(const uint8* reply, size_t received, size_t offset, char* dest,
                                   size_t destSize);

// A mount root the client can use: absolute and not "/" itself (the drives would be mounted
// over the system's own folders). Read up to its NUL or `rootCapacity` bytes.
[[nodiscard]] bool MountRootIsUsable(const char* root, size_t rootCapacity);

// `root`, "/" unless it already ends with one, then `volume`, into `path` (`pathSize` bytes).
// `root` is read up to its NUL or `rootCapacity` bytes. A "/" in the volume name becomes "_" so
// the mount point stays one directory below the root; an empty name (an unlabelled drive, which
// would be mounted over the root itself), "." and ".." are refused with B_NOT_ALLOWED, an
// unusable root with B_BAD_VALUE. B_NAME_TOO_LONG when the result does not fit.
[[nodiscard]] status_t MakeMountPointPath(const char* root, size_t rootCapacity, const char* volume,
                                          char* path, size_t pathSize);
