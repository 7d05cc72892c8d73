#include "StatConvert.h"

#include <cstring>

namespace fusebridge {

namespace {

timespec linux_time(const be_timespec& t) {
    timespec result{};
    result.tv_sec = static_cast<time_t>(t.tv_sec);
    result.tv_nsec = static_cast<long>(t.tv_nsec);
    return result;
}

}  // namespace

struct stat linux_stat(const be_stat& st, uid_t uid, gid_t gid, mode_t umask) {
    struct stat result;
    std::memset(&result, 0, sizeof result);
    result.st_ino = static_cast<ino_t>(st.st_ino);
    result.st_mode = static_cast<mode_t>(st.st_mode);
    // The device lists and enters every directory, whatever its mode says; shown without read
    // bits, a directory copied off the mount would be unreadable for anyone but root.
    if (S_ISDIR(result.st_mode))
        result.st_mode |= S_IRUSR | S_IRGRP | S_IROTH | S_IXUSR | S_IXGRP | S_IXOTH;
    result.st_mode &= ~(umask & 0777);
    result.st_nlink = st.st_nlink > 0 ? static_cast<nlink_t>(st.st_nlink) : 1;
    result.st_uid = uid;
    result.st_gid = gid;
    result.st_size = st.st_size < 0 ? 0 : static_cast<off_t>(st.st_size);
    result.st_blksize = st.st_blksize > 0 ? st.st_blksize : 512;
    result.st_blocks = static_cast<blkcnt_t>((result.st_size + 511) / 512);
    result.st_atim = linux_time(st.st_atim);
    result.st_mtim = linux_time(st.st_mtim);
    result.st_ctim = linux_time(st.st_ctim);
    return result;
}

struct statvfs linux_statvfs(const fs_info& info) {
    struct statvfs result;
    std::memset(&result, 0, sizeof result);
    unsigned long block = info.block_size > 0 ? static_cast<unsigned long>(info.block_size) : 1;
    result.f_bsize = info.io_size > 0 ? static_cast<unsigned long>(info.io_size) : block;
    result.f_frsize = block;
    result.f_blocks = info.total_blocks > 0 ? static_cast<fsblkcnt_t>(info.total_blocks) : 0;
    result.f_bfree = info.free_blocks > 0 ? static_cast<fsblkcnt_t>(info.free_blocks) : 0;
    result.f_bavail = result.f_bfree;
    result.f_files = info.total_nodes > 0 ? static_cast<fsfilcnt_t>(info.total_nodes) : 0;
    result.f_ffree = info.free_nodes > 0 ? static_cast<fsfilcnt_t>(info.free_nodes) : 0;
    result.f_favail = result.f_ffree;
    result.f_namemax = B_FILE_NAME_LENGTH - 1;
    if (info.flags & B_FS_IS_READONLY) result.f_flag |= ST_RDONLY;
    return result;
}

}  // namespace fusebridge
