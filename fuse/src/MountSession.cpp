#define FUSE_USE_VERSION 35
#include "MountSession.h"

#include <fcntl.h>
#include <fuse_lowlevel.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "DirHandle.h"
#include "LinuxMount.h"
#include "Operations.h"
#include "kernel/syscalls.h"

namespace fusebridge {

MountSession::MountSession(nspace_id nsid, vnode_id root, std::string where,
                           const MountSettings& settings)
    : nsid_(nsid), where_(std::move(where)), settings_(settings), nodes_(root) {
    tune(2.0, 0, nullptr);
}

void MountSession::tune(double cache_seconds, uint32_t link_bytes_per_second,
                        TransferListener* listener) {
    cache_ = std::make_unique<LinkCache>(cache_seconds);
    lingering_ = std::make_unique<LingeringFiles>(cache_->period(), [this](int fd) {
        (void)sys_close(fd);
        untrack_file(fd);
    });
    transfers_ = std::make_unique<TransferWatch>(listener, where_);
    readahead_ = readahead_for(link_bytes_per_second);
}

MountSession::~MountSession() {
    if (session_ != nullptr || thread_.joinable()) (void)stop(true);
}

status_t MountSession::start() {
    status_t status = prepare_mount_point(where_);
    if (status != B_OK) return status;
    if (pipe2(wake_pipe_, O_CLOEXEC) != 0) return B_NO_MORE_FDS;

    // The Linux kernel checks every access against the modes shown (owner, umask).
    std::string options = "fsname=tavro,subtype=tavro,default_permissions";
    if (settings_.allow_other) options += ",allow_other";
    if (settings_.read_only) options += ",ro";
    fuse_args args = FUSE_ARGS_INIT(0, nullptr);
    if (fuse_opt_add_arg(&args, "tavro") != 0 || fuse_opt_add_arg(&args, "-o") != 0 ||
        fuse_opt_add_arg(&args, options.c_str()) != 0) {
        fuse_opt_free_args(&args);
        return B_NO_MEMORY;
    }
    session_ = fuse_session_new(&args, &bridge_operations(), sizeof(fuse_lowlevel_ops), this);
    fuse_opt_free_args(&args);
    if (session_ == nullptr) return B_ERROR;
    if (fuse_session_mount(session_, where_.c_str()) != 0) {
        fuse_session_destroy(session_);
        session_ = nullptr;
        return B_ERROR;
    }
    linux_mounted_ = true;
    thread_ = std::thread(&MountSession::serve, this);
    return B_OK;
}

// One thread per mount, so requests of one mount are answered in the order they were read:
// a forget that the Linux kernel queued before the next request is handled before it.
void MountSession::serve() {
    fuse_buf buffer{};
    int fuse_fd = fuse_session_fd(session_);
    while (!fuse_session_exited(session_)) {
        pollfd fds[2] = {{fuse_fd, POLLIN, 0}, {wake_pipe_[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            std::perror("fuse: poll");
            break;
        }
        if (fds[1].revents != 0) break;
        int received = fuse_session_receive_buf(session_, &buffer);
        if (received == -EINTR || received == -EAGAIN || received == -ENOENT) continue;
        if (received <= 0) break;  // -ENODEV: the Linux mount is gone
        fuse_session_process_buf(session_, &buffer);
    }
    std::free(buffer.mem);
}

status_t MountSession::stop(bool force) {
    std::lock_guard<std::mutex> guard(stop_lock_);
    closing_.store(true, std::memory_order_release);
    if (linux_mounted_) {
        status_t status = unmount_linux(where_, false);
        if (status == B_BUSY && !force) return B_BUSY;
        // When forced, a mount that would not go is detached lazily by fuse_session_unmount.
        if (status != B_OK && status != B_BUSY && !force) {
            if (unmount_linux(where_, true) != B_OK) return status;
        }
        linux_mounted_ = false;
    }
    if (thread_.joinable()) {
        char wake = 1;
        while (write(wake_pipe_[1], &wake, 1) < 0 && errno == EINTR) {
        }
        thread_.join();
    }
    if (session_ != nullptr) {
        // Closes the device, so that requests still waiting on a detached mount fail instead
        // of hanging; a mount still attached is detached.
        fuse_session_unmount(session_);
        fuse_session_destroy(session_);
        session_ = nullptr;
    }
    for (int& fd : wake_pipe_) {
        if (fd >= 0) close(fd);
        fd = -1;
    }
    // Its closing thread is gone before the leftovers are closed, so no descriptor is
    // closed twice.
    lingering_->close_all();
    lingering_ = std::make_unique<LingeringFiles>(Clock::duration::zero(), [this](int fd) {
        (void)sys_close(fd);
        untrack_file(fd);
    });
    close_leftovers();
    return B_OK;
}

void MountSession::close_leftovers() {
    std::map<int, uint64_t> files;
    std::set<DirHandle*> dirs;
    {
        std::lock_guard<std::mutex> guard(handles_lock_);
        files.swap(files_);
        dirs.swap(dirs_);
    }
    for (const auto& [fd, ino] : files) (void)sys_close(fd);
    for (DirHandle* dir : dirs) {
        if (dir->fd >= 0) (void)sys_closedir(dir->fd);
        delete dir;
    }
    for (const auto& [vnid, count] : nodes_.release_all()) {
        for (uint64_t i = 0; i < count; i++) (void)vfs_put(nsid_, vnid);
    }
}

void MountSession::track_file(int fd, uint64_t ino) {
    std::lock_guard<std::mutex> guard(handles_lock_);
    files_[fd] = ino;
}

int MountSession::open_file_of(uint64_t ino) {
    std::lock_guard<std::mutex> guard(handles_lock_);
    for (const auto& [fd, file_ino] : files_)
        if (file_ino == ino) return fd;
    return -1;
}

int MountSession::open_file_count() {
    std::lock_guard<std::mutex> guard(handles_lock_);
    return static_cast<int>(files_.size());
}

void MountSession::untrack_file(int fd) {
    std::lock_guard<std::mutex> guard(handles_lock_);
    files_.erase(fd);
}

void MountSession::track_dir(DirHandle* dir) {
    std::lock_guard<std::mutex> guard(handles_lock_);
    dirs_.insert(dir);
}

void MountSession::untrack_dir(DirHandle* dir) {
    std::lock_guard<std::mutex> guard(handles_lock_);
    dirs_.erase(dir);
}

}  // namespace fusebridge
