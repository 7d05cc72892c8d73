// Helpers for the platform suites: run a lambda on a spawned thread and collect its status.
#pragma once

#include <functional>
#include <ostream>
#include <string>

#include "platform/OS.h"

namespace test_support {

// Spawns and starts a thread that runs `body`; its return value is the thread's exit status.
inline thread_id Start(std::function<status_t()> body, const char* name = "test thread") {
    auto* owned = new std::function<status_t()>(std::move(body));
    thread_id id = spawn_thread(
        [](void* data) -> status_t {
            auto* fn = static_cast<std::function<status_t()>*>(data);
            status_t status = (*fn)();
            delete fn;
            return status;
        },
        name, B_NORMAL_PRIORITY, owned);
    if (id < 0) {
        delete owned;
        return id;
    }
    resume_thread(id);
    return id;
}

// The thread's exit status, or the error of wait_for_thread itself.
inline status_t Join(thread_id id) {
    status_t exit_value = B_ERROR;
    status_t status = wait_for_thread(id, &exit_value);
    return status == B_OK ? exit_value : status;
}

// Polls until `condition` holds or about two seconds pass; true when it held.
inline bool Eventually(const std::function<bool()>& condition) {
    for (int i = 0; i < 2000; ++i) {
        if (condition()) return true;
        snooze(1000);
    }
    return condition();
}

// A semaphore's count, or the error get_sem_count gave instead.
inline int32 CountOf(sem_id sem) {
    int32 count = 0;
    status_t status = get_sem_count(sem, &count);
    return status == B_OK ? count : status;
}

// A message as read from a port: its code and its data.
struct PortMessage {
    int32 code;
    std::string data;
    bool operator==(const PortMessage&) const = default;
    friend std::ostream& operator<<(std::ostream& out, const PortMessage& message) {
        return out << "{" << message.code << ", \"" << message.data << "\"}";
    }
};

// Reads the next message from `port` (up to 64 bytes of it); when the read fails, the code is
// its error and the data empty.
inline PortMessage ReadMessage(port_id port) {
    char buffer[64];
    int32 code = 0;
    ssize_t size = read_port(port, &code, buffer, sizeof buffer);
    if (size < 0) return {static_cast<int32>(size), ""};
    return {code, std::string(buffer, static_cast<size_t>(size))};
}

}  // namespace test_support
