#include "TransferWatch.h"

namespace fusebridge {

TransferWatch::TransferWatch(TransferListener* listener, std::string mount)
    : listener_(listener), mount_(std::move(mount)) {}

void TransferWatch::named(uint64_t ino, const char* name) {
    if (listener_ == nullptr) return;
    std::lock_guard<std::mutex> guard(lock_);
    names_[ino] = name;
}

void TransferWatch::forgotten(uint64_t ino) {
    if (listener_ == nullptr) return;
    std::lock_guard<std::mutex> guard(lock_);
    names_.erase(ino);
}

// Descriptors are unique across the kernel's volumes while open, so they serve as ids.
void TransferWatch::opened(int fd, uint64_t ino, uint64_t size, bool writing) {
    if (listener_ == nullptr) return;
    std::string name = mount_ + "/";
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto found = names_.find(ino);
        name += found != names_.end() ? found->second : "?";
        bytes_[fd] = 0;
    }
    listener_->transfer_started(static_cast<uint64_t>(fd), name, size, writing);
}

void TransferWatch::moved(int fd, size_t bytes) {
    if (listener_ == nullptr || bytes == 0) return;
    uint64_t total = 0;
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto found = bytes_.find(fd);
        if (found == bytes_.end()) return;
        total = found->second += bytes;
    }
    listener_->transfer_moved(static_cast<uint64_t>(fd), total);
}

void TransferWatch::closed(int fd) {
    if (listener_ == nullptr) return;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (bytes_.erase(fd) == 0) return;
    }
    listener_->transfer_ended(static_cast<uint64_t>(fd));
}

}  // namespace fusebridge
