// Open files kept for a moment after their release, so that a program that opens the same
// file again at once (an append in a loop, a second read) finds the device's handle still
// open instead of paying an open and a close on the link each time.
//
// A descriptor lingers for the cache time, then a thread of its own closes it. Before a file
// is removed, renamed, truncated or found changed, its lingering descriptors are closed, so
// that the device sees the file as the program left it. Few are kept, oldest out first: each
// holds one of the handheld's few file handles, which a program's own opens need more.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "LinkCache.h"

namespace fusebridge {

class LingeringFiles {
public:
    static constexpr size_t kMaxKept = 4;

    // `close_file` closes one descriptor for good; it runs on the closing thread or the caller's.
    LingeringFiles(Clock::duration linger, std::function<void(int)> close_file,
                   size_t max_kept = kMaxKept);
    ~LingeringFiles();  // closes every descriptor still kept
    LingeringFiles(const LingeringFiles&) = delete;
    LingeringFiles& operator=(const LingeringFiles&) = delete;

    // A descriptor of `node` kept for this open mode (access mode and append), or -1.
    [[nodiscard]] int take(vnode_id node, int mode);
    // Keeps `fd` (open on `node` in `mode`) for the next open.
    void keep(vnode_id node, int mode, int fd);
    // Closes the descriptors kept for `node` now.
    void close_node(vnode_id node);
    void close_all();
    [[nodiscard]] size_t size() const;

private:
    struct Kept {
        vnode_id node;
        int mode;
        int fd;
        Clock::time_point until;
    };
    void run();
    std::vector<int> take_matching(const std::function<bool(const Kept&)>& match);

    const Clock::duration linger_;
    const std::function<void(int)> close_file_;
    const size_t max_kept_;
    mutable std::mutex lock_;  // guards everything below
    std::condition_variable wake_;
    std::vector<Kept> kept_;
    bool stopping_ = false;
    std::thread closer_;
};

}  // namespace fusebridge
