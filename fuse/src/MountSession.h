// One Linux FUSE mount of one volume: its session, its serving thread, its nodes and handles.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "LingeringFiles.h"
#include "LinkCache.h"
#include "NodeTable.h"
#include "TransferWatch.h"
#include "kernel/fs_interface.h"

struct fuse_session;

namespace fusebridge {

struct DirHandle;

// Who may use a mount and what it shows them.
struct MountSettings {
    bool allow_other = false;  // users other than the owner get in (modes still apply)
    bool read_only = false;    // mounted "ro"
    uid_t uid = 0;             // owner of every entry
    gid_t gid = 0;
    mode_t umask = 022;  // taken from every mode the volume gives
};

class MountSession {
public:
    MountSession(nspace_id nsid, vnode_id root, std::string where, const MountSettings& settings);
    ~MountSession();
    MountSession(const MountSession&) = delete;
    MountSession& operator=(const MountSession&) = delete;

    // How the mount spares the link (before start): cache time, link speed, transfer listener.
    void tune(double cache_seconds, uint32_t link_bytes_per_second, TransferListener* listener);

    // Mounts on Linux and starts serving.
    [[nodiscard]] status_t start();

    // Ends the Linux mount and gives every reference and handle back to the kernel. A busy
    // Linux mount refuses with B_BUSY unless `force`, which detaches it lazily instead. From
    // the first call on, every request on the mount fails at once with EIO.
    [[nodiscard]] status_t stop(bool force);

    const std::string& where() const { return where_; }
    nspace_id nsid() const { return nsid_; }
    NodeTable& nodes() { return nodes_; }
    bool closing() const { return closing_.load(std::memory_order_acquire); }
    // When the volume became a Linux mount: the time a root without one of its own shows.
    time_t mounted_at() const { return mounted_at_; }
    uid_t owner_uid() const { return settings_.uid; }
    gid_t owner_gid() const { return settings_.gid; }
    mode_t umask() const { return settings_.umask; }
    fuse_session* fuse() const { return session_; }
    LinkCache& cache() { return *cache_; }
    LingeringFiles& lingering() { return *lingering_; }
    TransferWatch& transfers() { return *transfers_; }
    uint32_t readahead() const { return readahead_; }

    // Open descriptors, so that handles whose release never came (the Linux kernel drops
    // pending releases when the mount goes) are closed at the end.
    void track_file(int fd, uint64_t ino);
    void untrack_file(int fd);
    // A descriptor open on `ino`, or -1: a file unlinked while open still answers fstat.
    [[nodiscard]] int open_file_of(uint64_t ino);
    [[nodiscard]] int open_file_count();
    void track_dir(DirHandle* dir);
    void untrack_dir(DirHandle* dir);

private:
    void serve();
    void close_leftovers();

    const nspace_id nsid_;
    const std::string where_;
    const MountSettings settings_;
    NodeTable nodes_;
    const time_t mounted_at_ = time(nullptr);
    std::atomic<bool> closing_{false};
    std::unique_ptr<LinkCache> cache_;
    std::unique_ptr<LingeringFiles> lingering_;
    std::unique_ptr<TransferWatch> transfers_;
    uint32_t readahead_ = 0;

    std::mutex stop_lock_;  // one stop at a time
    fuse_session* session_ = nullptr;
    bool linux_mounted_ = false;
    int wake_pipe_[2] = {-1, -1};  // written to make the serving thread return
    std::thread thread_;

    std::mutex handles_lock_;        // guards the two below
    std::map<int, uint64_t> files_;  // descriptor -> inode number
    std::set<DirHandle*> dirs_;
};

}  // namespace fusebridge
