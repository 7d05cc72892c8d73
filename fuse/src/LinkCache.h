// What one mount remembers so that nothing crosses the slow link twice without need: which
// files' contents the Linux page cache may keep, and which directory listings it may keep.
//
// A file's pages stay while its size and time are those it had when they were read and no
// change went through the mount since; a listing stays for the cache time unless the
// directory changed through the mount.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <unordered_map>

#include "kernel/fs_interface.h"

namespace fusebridge {

using Clock = std::chrono::steady_clock;

// The kernel's read-ahead for a link of this speed: about a second of the wire, in whole
// pages (none below a page's worth, so a short read costs one page), and the kernel's own
// default when the link has no limit.
[[nodiscard]] uint32_t readahead_for(uint32_t bytes_per_second);

class LinkCache {
public:
    explicit LinkCache(double seconds);

    double seconds() const { return seconds_; }
    Clock::duration period() const { return period_; }
    // The age, in microseconds, beyond which a file's status is asked of the device again.
    bigtime_t max_status_age() const;

    // A file opens with this status: true when the pages read earlier are still right. The
    // status is remembered for the next open either way.
    [[nodiscard]] bool keep_pages(vnode_id file, int64_t size, int64_t mtime);
    // Whether pages of this file were read under another status (a change from outside).
    [[nodiscard]] bool known_other(vnode_id file, int64_t size, int64_t mtime) const;
    // A change through the mount (write, truncate, time): the pages are no longer trusted.
    void file_changed(vnode_id file);

    // Whether the kernel may keep the listing it has of `dir`.
    [[nodiscard]] bool listing_fresh(vnode_id dir, Clock::time_point now) const;
    void listed(vnode_id dir, Clock::time_point now);
    void directory_changed(vnode_id dir);

    // The node left the mount: nothing about it is kept.
    void forget(vnode_id node);

private:
    struct Status {
        int64_t size;
        int64_t mtime;
    };

    const double seconds_;
    const Clock::duration period_;
    mutable std::mutex lock_;  // guards both maps
    std::unordered_map<vnode_id, Status> files_;
    std::unordered_map<vnode_id, Clock::time_point> listings_;
};

}  // namespace fusebridge
