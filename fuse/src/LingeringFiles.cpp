#include "LingeringFiles.h"

#include <algorithm>

namespace fusebridge {

LingeringFiles::LingeringFiles(Clock::duration linger, std::function<void(int)> close_file,
                               size_t max_kept)
    : linger_(linger), close_file_(std::move(close_file)), max_kept_(max_kept) {
    closer_ = std::thread(&LingeringFiles::run, this);
}

LingeringFiles::~LingeringFiles() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
    }
    wake_.notify_all();
    closer_.join();
    close_all();
}

int LingeringFiles::take(vnode_id node, int mode) {
    std::lock_guard<std::mutex> guard(lock_);
    auto found = std::find_if(kept_.begin(), kept_.end(), [&](const Kept& kept) {
        return kept.node == node && kept.mode == mode;
    });
    if (found == kept_.end()) return -1;
    int fd = found->fd;
    kept_.erase(found);
    return fd;
}

void LingeringFiles::keep(vnode_id node, int mode, int fd) {
    if (linger_ <= Clock::duration::zero() || max_kept_ == 0) return close_file_(fd);
    int oldest = -1;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (!stopping_) {
            // Kept in the order they came: the first is the one to make room.
            if (kept_.size() >= max_kept_) {
                oldest = kept_.front().fd;
                kept_.erase(kept_.begin());
            }
            kept_.push_back({node, mode, fd, Clock::now() + linger_});
            fd = -1;
        }
    }
    if (oldest >= 0) close_file_(oldest);
    if (fd >= 0) return close_file_(fd);
    wake_.notify_all();
}

std::vector<int> LingeringFiles::take_matching(const std::function<bool(const Kept&)>& match) {
    std::vector<int> fds;
    std::lock_guard<std::mutex> guard(lock_);
    auto end = std::remove_if(kept_.begin(), kept_.end(), [&](const Kept& kept) {
        if (!match(kept)) return false;
        fds.push_back(kept.fd);
        return true;
    });
    kept_.erase(end, kept_.end());
    return fds;
}

void LingeringFiles::close_node(vnode_id node) {
    for (int fd : take_matching([&](const Kept& kept) { return kept.node == node; }))
        close_file_(fd);
}

void LingeringFiles::close_all() {
    for (int fd : take_matching([](const Kept&) { return true; })) close_file_(fd);
}

size_t LingeringFiles::size() const {
    std::lock_guard<std::mutex> guard(lock_);
    return kept_.size();
}

void LingeringFiles::run() {
    std::unique_lock<std::mutex> guard(lock_);
    while (!stopping_) {
        if (kept_.empty()) {
            wake_.wait(guard);
            continue;
        }
        auto next = std::min_element(kept_.begin(), kept_.end(), [](const Kept& a, const Kept& b) {
                        return a.until < b.until;
                    })->until;
        if (wake_.wait_until(guard, next) != std::cv_status::timeout) continue;
        Clock::time_point now = Clock::now();
        std::vector<int> due;
        auto end = std::remove_if(kept_.begin(), kept_.end(), [&](const Kept& kept) {
            if (kept.until > now) return false;
            due.push_back(kept.fd);
            return true;
        });
        kept_.erase(end, kept_.end());
        guard.unlock();
        for (int fd : due) close_file_(fd);
        guard.lock();
    }
}

}  // namespace fusebridge
