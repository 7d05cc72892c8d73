// A process-wide table of kernel objects (ports, semaphores) by id.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/SupportDefs.h"

namespace platform_internal {

template <typename Object>
struct IdTable {
    std::mutex lock;
    std::unordered_map<int32, std::shared_ptr<Object>> entries;
    int32 next_id = 1;  // ids are never reused, so a stale id cannot reach a new object

    // Gives `object` a new id and keeps it: false when `limit` objects are kept already.
    bool Add(const std::shared_ptr<Object>& object, size_t limit) {
        std::lock_guard guard(lock);
        if (entries.size() >= limit || next_id == INT32_MAX) return false;
        object->id = next_id++;
        entries.emplace(object->id, object);
        return true;
    }

    // The process's one table of these objects. Never destroyed: detached threads may still
    // use them while the process exits.
    static IdTable& Process() {
        static IdTable* table = new IdTable;
        return *table;
    }

    std::shared_ptr<Object> Find(int32 id) {
        std::lock_guard guard(lock);
        auto found = entries.find(id);
        return found == entries.end() ? nullptr : found->second;
    }

    // Removes the object from the table; null when there is none of that id.
    std::shared_ptr<Object> Take(int32 id) {
        std::lock_guard guard(lock);
        auto found = entries.find(id);
        if (found == entries.end()) return nullptr;
        std::shared_ptr<Object> object = std::move(found->second);
        entries.erase(found);
        return object;
    }
};

}  // namespace platform_internal
