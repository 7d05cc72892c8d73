// Tells a TransferListener about the transfers of one mount: which file an open handle
// belongs to, and how many bytes went through it. The read and write handlers call moved().
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>

#include "fusebridge/FuseBridge.h"

namespace fusebridge {

class TransferWatch {
public:
    TransferWatch(TransferListener* listener, std::string mount);

    bool active() const { return listener_ != nullptr; }
    // The name the kernel last looked the node up by.
    void named(uint64_t ino, const char* name);
    void forgotten(uint64_t ino);

    void opened(int fd, uint64_t ino, uint64_t size, bool writing);
    void moved(int fd, size_t bytes);
    void closed(int fd);

private:
    TransferListener* const listener_;
    const std::string mount_;
    std::mutex lock_;  // guards both maps
    std::unordered_map<uint64_t, std::string> names_;
    std::unordered_map<int, uint64_t> bytes_;
};

}  // namespace fusebridge
