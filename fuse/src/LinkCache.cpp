#include "LinkCache.h"

namespace fusebridge {

namespace {

constexpr uint32_t kPageSize = 4096;
constexpr uint32_t kKernelReadahead = 128 * 1024;

}  // namespace

uint32_t readahead_for(uint32_t bytes_per_second) {
    if (bytes_per_second == 0) return kKernelReadahead;
    uint32_t pages = bytes_per_second / kPageSize;
    return pages * kPageSize < kKernelReadahead ? pages * kPageSize : kKernelReadahead;
}

LinkCache::LinkCache(double seconds)
    : seconds_(seconds > 0 ? seconds : 0),
      period_(
          std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds_))) {}

bigtime_t LinkCache::max_status_age() const { return static_cast<bigtime_t>(seconds_ * 1000000.0); }

bool LinkCache::keep_pages(vnode_id file, int64_t size, int64_t mtime) {
    std::lock_guard<std::mutex> guard(lock_);
    auto [found, added] = files_.try_emplace(file, Status{size, mtime});
    if (added) return false;
    bool same = found->second.size == size && found->second.mtime == mtime;
    found->second = {size, mtime};
    return same;
}

bool LinkCache::known_other(vnode_id file, int64_t size, int64_t mtime) const {
    std::lock_guard<std::mutex> guard(lock_);
    auto found = files_.find(file);
    return found != files_.end() && (found->second.size != size || found->second.mtime != mtime);
}

void LinkCache::file_changed(vnode_id file) {
    std::lock_guard<std::mutex> guard(lock_);
    files_.erase(file);
}

bool LinkCache::listing_fresh(vnode_id dir, Clock::time_point now) const {
    std::lock_guard<std::mutex> guard(lock_);
    auto found = listings_.find(dir);
    return found != listings_.end() && now - found->second < period_;
}

void LinkCache::listed(vnode_id dir, Clock::time_point now) {
    std::lock_guard<std::mutex> guard(lock_);
    listings_[dir] = now;
}

void LinkCache::directory_changed(vnode_id dir) {
    std::lock_guard<std::mutex> guard(lock_);
    listings_.erase(dir);
}

void LinkCache::forget(vnode_id node) {
    std::lock_guard<std::mutex> guard(lock_);
    files_.erase(node);
    listings_.erase(node);
}

}  // namespace fusebridge
