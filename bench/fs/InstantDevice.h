// A device that answers at once, for benchmarks of the file system's own costs: a thread that
// reads the request port and answers through a function.
#pragma once

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "platform/OS.h"

class InstantDevice {
public:
    using Answer =
        std::function<void(const uint8* request, size_t size, std::vector<uint8>& reply)>;

    explicit InstantDevice(Answer answer) : answer_(std::move(answer)) {
        requestPort = create_port(50, "bench WritePsion");
        replyPort = create_port(50, "bench Tavro-Read");
        sem = create_sem(1, "bench RFSV-NCP-Write");
        thread_ = std::thread([this] { Run(); });
    }
    ~InstantDevice() {
        delete_port(requestPort);
        thread_.join();
        delete_port(replyPort);
        delete_sem(sem);
    }

    port_id requestPort;
    port_id replyPort;
    sem_id sem;
    std::atomic<uint64> requests{0};

private:
    void Run() {
        std::vector<uint8> buffer(1024);
        std::vector<uint8> reply;
        for (;;) {
            int32 code;
            ssize_t size = read_port(requestPort, &code, buffer.data(), buffer.size());
            if (size < 0) return;
            requests++;
            reply.clear();
            answer_(buffer.data(), static_cast<size_t>(size), reply);
            if (write_port(replyPort, 0x2A, reply.data(), reply.size()) < 0) return;
        }
    }

    Answer answer_;
    std::thread thread_;
};
