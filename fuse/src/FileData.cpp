// Reads and writes of a whole FUSE request, over as many volume calls as they take.
#include "FileData.h"

#include "kernel/syscalls.h"

namespace fusebridge {

// Reads until `size` bytes or the end of the file. FUSE takes a short read for the end of the
// file, so an error after some bytes fails the whole read rather than cutting the file short.
[[nodiscard]] status_t read_fully(int fd, off_t offset, size_t size, std::vector<char>* data) {
    data->resize(size);
    size_t done = 0;
    while (done < size) {
        ssize_t count =
            sys_read(fd, offset + static_cast<off_t>(done), data->data() + done, size - done);
        if (count < 0) return static_cast<status_t>(count);
        if (count == 0) break;
        done += static_cast<size_t>(count);
    }
    data->resize(done);
    return B_OK;
}

[[nodiscard]] status_t write_fully(int fd, off_t offset, const char* data, size_t size,
                                   size_t* written) {
    *written = 0;
    while (*written < size) {
        ssize_t count =
            sys_write(fd, offset + static_cast<off_t>(*written), data + *written, size - *written);
        if (count < 0) return *written > 0 ? B_OK : static_cast<status_t>(count);
        if (count == 0) return *written > 0 ? B_OK : B_IO_ERROR;
        *written += static_cast<size_t>(count);
    }
    return B_OK;
}
}  // namespace fusebridge
