// Thread messages: one code and one buffer per thread, waiting to be received.
#include <algorithm>
#include <cstring>

#include "ThreadRecord.h"
#include "platform/OS.h"

using platform_internal::CurrentThread;
using platform_internal::LookupThread;
using platform_internal::ThreadRecord;

status_t send_data(thread_id thread, int32 code, const void* buffer, size_t buffer_size) {
    if (buffer == nullptr && buffer_size > 0) return B_BAD_VALUE;
    std::shared_ptr<ThreadRecord> target = LookupThread(thread);
    if (!target) return B_BAD_THREAD_ID;
    std::shared_ptr<ThreadRecord> self = CurrentThread();
    thread_id sender = self ? self->id : B_BAD_THREAD_ID;

    std::vector<uint8> data;
    if (buffer_size > 0) {
        const auto* bytes = static_cast<const uint8*>(buffer);
        data.assign(bytes, bytes + buffer_size);
    }

    std::unique_lock held(target->lock);
    // The queue holds one message: wait until the receiver has taken the previous one.
    target->changed.wait(held, [&] { return target->exited || !target->has_message; });
    if (target->exited) return B_BAD_THREAD_ID;
    target->has_message = true;
    target->message_code = code;
    target->message_sender = sender;
    target->message_data = std::move(data);
    target->changed.notify_all();
    return B_OK;
}

int32 receive_data(thread_id* sender, void* buffer, size_t buffer_size) {
    if (buffer == nullptr && buffer_size > 0) return B_BAD_VALUE;
    std::shared_ptr<ThreadRecord> self = CurrentThread();
    if (!self) return B_NO_MORE_THREADS;

    std::unique_lock held(self->lock);
    self->changed.wait(held, [&] { return self->has_message; });
    int32 code = self->message_code;
    if (sender != nullptr) *sender = self->message_sender;
    size_t copied = std::min(buffer_size, self->message_data.size());
    if (copied > 0) std::memcpy(buffer, self->message_data.data(), copied);
    self->has_message = false;
    self->message_data.clear();
    self->changed.notify_all();
    return code;
}

bool has_data(thread_id thread) {
    std::shared_ptr<ThreadRecord> target = LookupThread(thread);
    if (!target) return false;
    std::lock_guard guard(target->lock);
    return target->has_message;
}
