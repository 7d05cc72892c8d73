// Ports: bounded message queues addressed by id.
//
// The table lock only guards the id map; it is never held while blocking. Each port has its own
// lock and two conditions. A deleted port leaves the map at once but lives on while callers
// still hold it, so that its blocked threads can wake and see that it is gone.
#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "IdTable.h"
#include "Waiting.h"
#include "platform/OS.h"

namespace {

using platform_internal::Deadline;
using platform_internal::IdTable;

// More live ports than this is a leak in the caller, not a need.
constexpr size_t kMaxPorts = 16384;

struct Message {
    int32 code;
    std::vector<uint8> data;
};

struct Port {
    port_id id;
    std::string name;
    size_t capacity;

    std::mutex lock;
    std::condition_variable not_full;   // writers wait here
    std::condition_variable not_empty;  // readers and size queries wait here
    std::deque<Message> messages;
    bool deleted = false;
};

using PortTable = IdTable<Port>;

PortTable& Table() { return PortTable::Process(); }

std::shared_ptr<Port> Lookup(int32 id) { return Table().Find(id); }

// Waits until the port holds a message or is deleted. B_OK means a message is there.
status_t WaitForMessage(Port& port, std::unique_lock<std::mutex>& held, uint32 flags,
                        bigtime_t timeout) {
    status_t status = Deadline::From(flags, timeout).Wait(held, port.not_empty, [&] {
        return port.deleted || !port.messages.empty();
    });
    if (port.deleted) return B_BAD_PORT_ID;
    return status;
}

}  // namespace

port_id create_port(int32 capacity, const char* name) {
    if (capacity <= 0) return B_BAD_VALUE;
    auto port = std::make_shared<Port>();
    port->capacity = static_cast<size_t>(capacity);
    port->name = name != nullptr ? std::string(name, strnlen(name, B_OS_NAME_LENGTH - 1))
                                 : std::string("unnamed port");

    if (!Table().Add(port, kMaxPorts)) return B_NO_MORE_PORTS;
    return port->id;
}

port_id find_port(const char* name) {
    if (name == nullptr) return B_BAD_VALUE;
    std::string wanted(name, strnlen(name, B_OS_NAME_LENGTH - 1));
    PortTable& table = Table();
    std::lock_guard guard(table.lock);
    // With several ports of one name, the oldest answers: the order is then stable.
    port_id found = B_NAME_NOT_FOUND;
    for (const auto& [id, port] : table.entries) {
        if (port->name == wanted && (found < 0 || id < found)) found = id;
    }
    return found;
}

status_t write_port(port_id port, int32 code, const void* buffer, size_t size) {
    return write_port_etc(port, code, buffer, size, 0, 0);
}

status_t write_port_etc(port_id id, int32 code, const void* buffer, size_t size, uint32 flags,
                        bigtime_t timeout) {
    if (buffer == nullptr && size > 0) return B_BAD_VALUE;
    std::shared_ptr<Port> port = Lookup(id);
    if (!port) return B_BAD_PORT_ID;

    // Copy before taking the lock: a large message should not stall the port's readers.
    Message message{code, {}};
    if (size > 0) {
        const auto* bytes = static_cast<const uint8*>(buffer);
        message.data.assign(bytes, bytes + size);
    }

    std::unique_lock held(port->lock);
    status_t status = Deadline::From(flags, timeout).Wait(held, port->not_full, [&] {
        return port->deleted || port->messages.size() < port->capacity;
    });
    if (port->deleted) return B_BAD_PORT_ID;
    if (status != B_OK) return status;
    port->messages.push_back(std::move(message));
    // All waiters: a size query does not take the message, so waking only one could leave a
    // reader asleep next to a message.
    port->not_empty.notify_all();
    return B_OK;
}

ssize_t read_port(port_id port, int32* code, void* buffer, size_t size) {
    return read_port_etc(port, code, buffer, size, 0, 0);
}

ssize_t read_port_etc(port_id id, int32* code, void* buffer, size_t size, uint32 flags,
                      bigtime_t timeout) {
    if (code == nullptr || (buffer == nullptr && size > 0)) return B_BAD_VALUE;
    std::shared_ptr<Port> port = Lookup(id);
    if (!port) return B_BAD_PORT_ID;

    std::unique_lock held(port->lock);
    status_t status = WaitForMessage(*port, held, flags, timeout);
    if (status != B_OK) return status;

    Message message = std::move(port->messages.front());
    port->messages.pop_front();
    // All writers: one that has just timed out would otherwise swallow the only wake-up.
    port->not_full.notify_all();
    held.unlock();

    *code = message.code;
    size_t copied = std::min(size, message.data.size());
    if (copied > 0) std::memcpy(buffer, message.data.data(), copied);
    return static_cast<ssize_t>(copied);
}

ssize_t port_buffer_size(port_id port) { return port_buffer_size_etc(port, 0, 0); }

ssize_t port_buffer_size_etc(port_id id, uint32 flags, bigtime_t timeout) {
    std::shared_ptr<Port> port = Lookup(id);
    if (!port) return B_BAD_PORT_ID;
    std::unique_lock held(port->lock);
    status_t status = WaitForMessage(*port, held, flags, timeout);
    if (status != B_OK) return status;
    return static_cast<ssize_t>(port->messages.front().data.size());
}

ssize_t port_count(port_id id) {
    std::shared_ptr<Port> port = Lookup(id);
    if (!port) return B_BAD_PORT_ID;
    std::lock_guard guard(port->lock);
    if (port->deleted) return B_BAD_PORT_ID;
    return static_cast<ssize_t>(port->messages.size());
}

status_t delete_port(port_id id) {
    std::shared_ptr<Port> port = Table().Take(id);
    if (port == nullptr) return B_BAD_PORT_ID;
    std::deque<Message> dropped;
    {
        std::lock_guard guard(port->lock);
        port->deleted = true;
        dropped.swap(port->messages);
        port->not_full.notify_all();
        port->not_empty.notify_all();
    }
    return B_OK;
}
