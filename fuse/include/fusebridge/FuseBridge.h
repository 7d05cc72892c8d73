// Exports every volume the kernel mounts as a real Linux mount (FUSE) at its mount point.
//
// The bridge watches the kernel's mounts. When a volume is mounted at a path, the same path
// becomes a Linux FUSE mount served by a thread of its own; when the kernel unmounts the volume,
// the Linux mount goes first, and a Linux mount that is in use refuses the unmount with B_BUSY.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "platform/Errors.h"

namespace fusebridge {

// Hears of every transfer through the mounts: a file from its open to its release. Called on
// the mounts' serving threads, so it must return quickly.
class TransferListener {
public:
    virtual ~TransferListener() = default;
    // `id` is unique among the transfers running; `size` is the file's size at open.
    virtual void transfer_started(uint64_t id, const std::string& name, uint64_t size,
                                  bool writing) = 0;
    // `bytes` read or written so far.
    virtual void transfer_moved(uint64_t id, uint64_t bytes) = 0;
    virtual void transfer_ended(uint64_t id) = 0;
};

struct Options {
    // Lets users other than the owner in (the Linux kernel still checks the modes): honoured
    // only where it is allowed (root, or "user_allow_other" in /etc/fuse.conf).
    bool allow_other = false;
    // A line on standard output for every Linux mount made and ended.
    bool verbose = false;
    // Owner of every file and folder shown; -1: the user who started the program (under sudo,
    // the user who ran sudo).
    long uid = -1;
    long gid = -1;
    // Permission bits taken away from the modes the volume gives.
    unsigned umask = 022;
    // How long the Linux kernel trusts names, attributes, listings and file contents it was
    // told about before it asks again, and how long a closed file's handle on the device is
    // kept for the next open.
    double cache_seconds = 2.0;
    // The link's speed in bytes a second (0: unlimited); sizes the kernel's read-ahead.
    uint32_t link_bytes_per_second = 0;
    // Told about transfers when set; must outlive the mounts.
    TransferListener* transfers = nullptr;
    // Told of every Linux mount made (`mounted` true) and ended in an orderly way, on the thread
    // that made or ended it; e.g. for desktop notifications.
    void (*changed)(void* context, const char* where, bool mounted) = nullptr;
    void* context = nullptr;
};

// Becomes the kernel's mount observer. Volumes mounted from now on appear on Linux.
[[nodiscard]] status_t start(const Options& options);

// Stops observing and ends every Linux mount still served (even a busy one), so that nothing is
// left in the mount table. The volumes stay mounted in the kernel, with no references left.
void stop();

// Files the Linux mounts hold open right now (a close reaches the bridge after it returns).
[[nodiscard]] int open_file_count();
// The number of Linux mounts served right now.
[[nodiscard]] int mount_count();

// The user who started the program: the real user, or the one named by SUDO_UID and SUDO_GID
// when running as root under sudo.
void invoking_user(uid_t* uid, gid_t* gid);
// Whether FUSE mounts can be made here; `reason` says why not.
[[nodiscard]] bool available(std::string* reason);

}  // namespace fusebridge
