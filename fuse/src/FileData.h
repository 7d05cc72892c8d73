// Reads and writes of a whole FUSE request, over as many volume calls as they take.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <vector>

#include "platform/SupportDefs.h"

namespace fusebridge {

// Reads until `size` bytes or the end of the file. FUSE takes a short read for the end of the
// file, so an error after some bytes fails the whole read rather than cutting the file short.
[[nodiscard]] status_t read_fully(int fd, off_t offset, size_t size, std::vector<char>* data);

// Writes all `size` bytes; after some bytes went, an error ends the write short but successful.
[[nodiscard]] status_t write_fully(int fd, off_t offset, const char* data, size_t size,
                                   size_t* written);

}  // namespace fusebridge
