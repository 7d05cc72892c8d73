// Counting semaphores.
//
// Waiters are served in arrival order, so a thread asking for several units is not starved by
// a stream of single acquisitions. The table lock only guards the id map; each semaphore has
// its own lock and condition, and a deleted one lives on until its last caller lets go.
#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <unordered_map>

#include "IdTable.h"
#include "Waiting.h"
#include "platform/OS.h"

namespace {

using platform_internal::Deadline;
using platform_internal::IdTable;

constexpr size_t kMaxSems = 65536;

struct Waiter {
    uint64 ticket;
    int32 count;
};

struct Semaphore {
    sem_id id;
    std::string name;

    std::mutex lock;
    std::condition_variable changed;
    int32 count = 0;             // units free now
    std::deque<Waiter> waiters;  // in arrival order
    uint64 next_ticket = 0;
    bool deleted = false;
};

using SemTable = IdTable<Semaphore>;

SemTable& Table() { return SemTable::Process(); }

std::shared_ptr<Semaphore> Lookup(int32 id) { return Table().Find(id); }

void RemoveWaiter(Semaphore& sem, uint64 ticket) {
    auto it = std::find_if(sem.waiters.begin(), sem.waiters.end(),
                           [&](const Waiter& w) { return w.ticket == ticket; });
    if (it != sem.waiters.end()) sem.waiters.erase(it);
}

}  // namespace

sem_id create_sem(int32 count, const char* name) {
    if (count < 0) return B_BAD_VALUE;
    auto sem = std::make_shared<Semaphore>();
    sem->count = count;
    sem->name = name != nullptr ? std::string(name, strnlen(name, B_OS_NAME_LENGTH - 1))
                                : std::string("unnamed semaphore");
    if (!Table().Add(sem, kMaxSems)) return B_NO_MORE_SEMS;
    return sem->id;
}

status_t delete_sem(sem_id id) {
    std::shared_ptr<Semaphore> sem = Table().Take(id);
    if (sem == nullptr) return B_BAD_SEM_ID;
    std::lock_guard guard(sem->lock);
    sem->deleted = true;
    sem->changed.notify_all();
    return B_OK;
}

status_t acquire_sem(sem_id id) { return acquire_sem_etc(id, 1, 0, 0); }

status_t acquire_sem_etc(sem_id id, int32 count, uint32 flags, bigtime_t timeout) {
    if (count < 1) return B_BAD_VALUE;
    std::shared_ptr<Semaphore> sem = Lookup(id);
    if (!sem) return B_BAD_SEM_ID;

    std::unique_lock held(sem->lock);
    if (sem->deleted) return B_BAD_SEM_ID;
    // Fast path: nobody queued ahead and enough units.
    if (sem->waiters.empty() && sem->count >= count) {
        sem->count -= count;
        return B_OK;
    }
    uint64 ticket = sem->next_ticket++;
    sem->waiters.push_back({ticket, count});
    status_t status = Deadline::From(flags, timeout).Wait(held, sem->changed, [&] {
        return sem->deleted || (sem->waiters.front().ticket == ticket && sem->count >= count);
    });
    if (sem->deleted) return B_BAD_SEM_ID;
    RemoveWaiter(*sem, ticket);
    if (status == B_OK) sem->count -= count;
    // Whether we took units or gave up, the head of the queue changed: the next waiter may
    // now be able to go.
    if (!sem->waiters.empty()) sem->changed.notify_all();
    return status;
}

status_t release_sem(sem_id id) { return release_sem_etc(id, 1, 0); }

status_t release_sem_etc(sem_id id, int32 count, uint32 /*flags*/) {
    if (count < 1) return B_BAD_VALUE;
    std::shared_ptr<Semaphore> sem = Lookup(id);
    if (!sem) return B_BAD_SEM_ID;
    std::lock_guard guard(sem->lock);
    if (sem->deleted) return B_BAD_SEM_ID;
    if (sem->count > INT32_MAX - count) return B_BAD_VALUE;
    sem->count += count;
    if (!sem->waiters.empty()) sem->changed.notify_all();
    return B_OK;
}

status_t get_sem_count(sem_id id, int32* count) {
    if (count == nullptr) return B_BAD_VALUE;
    std::shared_ptr<Semaphore> sem = Lookup(id);
    if (!sem) return B_BAD_SEM_ID;
    std::lock_guard guard(sem->lock);
    if (sem->deleted) return B_BAD_SEM_ID;
    // A negative count tells how many units the waiters are still short of.
    int64 value = sem->count;
    for (const Waiter& waiter : sem->waiters) value -= waiter.count;
    *count = static_cast<int32>(std::max<int64>(value, INT32_MIN));
    return B_OK;
}
