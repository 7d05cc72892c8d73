// Threads: spawned suspended, started by resume_thread, collected by wait_for_thread.
//
// Threads run detached; wait_for_thread waits for the record's exit flag, which is set by the
// last thing the thread does (a thread-local destructor), so it works the same after a return
// from the thread function, after exit_thread and for threads we did not spawn.
#include <pthread.h>

#include <cstring>
#include <deque>
#include <unordered_map>

#include "ThreadRecord.h"
#include "platform/OS.h"

namespace platform_internal {
namespace {

constexpr size_t kMaxThreads = 32768;
// Ended threads keep their status for wait_for_thread, but only the latest ones: threads that
// nobody waits for must not fill the table over a long run.
constexpr size_t kKeptExitStatuses = 4096;

struct ThreadTable {
    std::mutex lock;
    std::unordered_map<thread_id, std::shared_ptr<ThreadRecord>> threads;
    std::deque<thread_id> ended;  // spawned threads in the order they ended; may hold collected ids
    thread_id next_id = 1;        // never reused
};

// Never destroyed: detached threads may still end while the process exits.
ThreadTable& Table() {
    static ThreadTable* table = new ThreadTable;
    return *table;
}

// Registers a record under a new id; B_NO_MORE_THREADS when the table is full.
status_t Register(const std::shared_ptr<ThreadRecord>& record) {
    ThreadTable& table = Table();
    std::lock_guard guard(table.lock);
    if (table.threads.size() >= kMaxThreads || table.next_id == INT32_MAX) {
        return B_NO_MORE_THREADS;
    }
    record->id = table.next_id++;
    table.threads.emplace(record->id, record);
    return B_OK;
}

void Unregister(thread_id id) {
    ThreadTable& table = Table();
    std::lock_guard guard(table.lock);
    table.threads.erase(id);
}

void NoteEnded(thread_id id) {
    ThreadTable& table = Table();
    std::lock_guard guard(table.lock);
    table.ended.push_back(id);
    while (table.ended.size() > kKeptExitStatuses) {
        table.threads.erase(table.ended.front());
        table.ended.pop_front();
    }
}

// Holds the calling thread's record; its destructor runs when the thread ends by any path.
struct CurrentHolder {
    std::shared_ptr<ThreadRecord> record;

    ~CurrentHolder() {
        if (!record) return;
        // A spawned thread's status waits for wait_for_thread; a thread we did not spawn has
        // nobody to collect it, so its id goes now.
        if (record->spawned) {
            NoteEnded(record->id);
        } else {
            Unregister(record->id);
        }
        std::lock_guard guard(record->lock);
        record->exited = true;
        // A message nobody will read is dropped; blocked senders see the thread gone.
        record->has_message = false;
        record->message_data.clear();
        record->changed.notify_all();
    }
};

thread_local CurrentHolder current;

void* RunSpawned(void* argument) {
    // The table holds a reference too; ours keeps the record alive until the end.
    std::shared_ptr<ThreadRecord> record(*static_cast<std::shared_ptr<ThreadRecord>*>(argument));
    delete static_cast<std::shared_ptr<ThreadRecord>*>(argument);
    current.record = record;

    thread_func func;
    void* data;
    {
        std::unique_lock held(record->lock);
        record->changed.wait(held, [&] { return record->resumed; });
        func = record->func;
        data = record->data;
    }
    status_t status = func(data);
    std::lock_guard guard(record->lock);
    record->exit_status = status;
    return nullptr;
}

}  // namespace

std::shared_ptr<ThreadRecord> CurrentThread() {
    if (!current.record) {
        auto record = std::make_shared<ThreadRecord>();
        record->name = "unnamed thread";
        record->resumed = true;
        if (Register(record) != B_OK) return nullptr;
        current.record = record;
    }
    return current.record;
}

std::shared_ptr<ThreadRecord> LookupThread(thread_id id) {
    ThreadTable& table = Table();
    std::lock_guard guard(table.lock);
    auto found = table.threads.find(id);
    return found == table.threads.end() ? nullptr : found->second;
}

}  // namespace platform_internal

using platform_internal::CurrentThread;
using platform_internal::LookupThread;
using platform_internal::ThreadRecord;

thread_id spawn_thread(thread_func func, const char* name, int32 /*priority*/, void* data) {
    if (func == nullptr) return B_BAD_VALUE;
    auto record = std::make_shared<ThreadRecord>();
    record->spawned = true;
    record->func = func;
    record->data = data;
    record->name = name != nullptr ? std::string(name, strnlen(name, B_OS_NAME_LENGTH - 1))
                                   : std::string("unnamed thread");
    status_t status = platform_internal::Register(record);
    if (status != B_OK) return status;

    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    auto* argument = new std::shared_ptr<ThreadRecord>(record);
    pthread_t handle;
    int failed = pthread_create(&handle, &attributes, platform_internal::RunSpawned, argument);
    pthread_attr_destroy(&attributes);
    if (failed) {
        delete argument;
        platform_internal::Unregister(record->id);
        return B_NO_MORE_THREADS;
    }
    return record->id;
}

status_t resume_thread(thread_id id) {
    std::shared_ptr<ThreadRecord> record = LookupThread(id);
    if (!record) return B_BAD_THREAD_ID;
    std::lock_guard guard(record->lock);
    if (record->exited) return B_BAD_THREAD_ID;
    if (record->resumed) return B_BAD_THREAD_STATE;
    record->resumed = true;
    record->changed.notify_all();
    return B_OK;
}

status_t wait_for_thread(thread_id id, status_t* exit_value) {
    std::shared_ptr<ThreadRecord> record = LookupThread(id);
    if (!record) return B_BAD_THREAD_ID;
    std::shared_ptr<ThreadRecord> self = CurrentThread();
    if (self == record) return B_BAD_THREAD_ID;  // would wait forever
    status_t status;
    {
        std::unique_lock held(record->lock);
        // Waiting for a thread that was never resumed starts it, rather than hanging.
        if (!record->resumed) {
            record->resumed = true;
            record->changed.notify_all();
        }
        record->changed.wait(held, [&] { return record->exited; });
        status = record->exit_status;
    }
    // The status is collected; the id is gone from now on.
    if (record->spawned) platform_internal::Unregister(id);
    if (exit_value != nullptr) *exit_value = status;
    return B_OK;
}

thread_id find_thread(const char* name) {
    if (name == nullptr) {
        std::shared_ptr<ThreadRecord> self = CurrentThread();
        return self ? self->id : B_NO_MORE_THREADS;
    }
    std::string wanted(name, strnlen(name, B_OS_NAME_LENGTH - 1));
    std::vector<std::shared_ptr<ThreadRecord>> candidates;
    {
        platform_internal::ThreadTable& table = platform_internal::Table();
        std::lock_guard guard(table.lock);
        for (const auto& [id, record] : table.threads) {
            if (record->name == wanted) candidates.push_back(record);
        }
    }
    // The oldest running thread of that name answers.
    thread_id found = B_NAME_NOT_FOUND;
    for (const auto& record : candidates) {
        std::lock_guard guard(record->lock);
        if (!record->exited && (found < 0 || record->id < found)) found = record->id;
    }
    return found;
}

void exit_thread(status_t status) {
    std::shared_ptr<ThreadRecord> self = CurrentThread();
    if (self) {
        std::lock_guard guard(self->lock);
        self->exit_status = status;
    }
    // Unwinds the stack, running destructors, then the thread-local holder marks the end.
    pthread_exit(nullptr);
}
