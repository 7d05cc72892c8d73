// The record behind a thread id, shared by the thread calls and the thread messages.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/OS.h"

namespace platform_internal {

struct ThreadRecord {
    thread_id id = 0;
    std::string name;
    bool spawned = false;  // false: a thread we did not start, met through find_thread(NULL)

    std::mutex lock;
    std::condition_variable changed;  // any of the fields below changed
    thread_func func = nullptr;
    void* data = nullptr;
    bool resumed = false;
    bool exited = false;
    status_t exit_status = B_OK;

    // The one-message queue of send_data/receive_data.
    bool has_message = false;
    int32 message_code = 0;
    thread_id message_sender = 0;
    std::vector<uint8> message_data;
};

// The calling thread's record, made on first use for threads we did not spawn.
std::shared_ptr<ThreadRecord> CurrentThread();
// The record of a live or not yet collected thread, or null.
std::shared_ptr<ThreadRecord> LookupThread(thread_id id);

}  // namespace platform_internal
