#include "LinkState.h"

#include <mutex>

#include "platform/HostProtocol.h"

namespace {

// Id of the host's request port "WritePsion"; negative: look it up again before use.
port_id link_send_pid = B_BAD_VALUE;
ChannelRef link_handle;
std::mutex link_state_lock;
uint32 link_generation = 0;

}  // namespace

port_id LookUpRequestPort() {
    std::lock_guard guard(link_state_lock);
    if (link_send_pid < 0) link_send_pid = find_port(HOST_REQUEST_PORT_NAME);
    return link_send_pid;
}

port_id CurrentRequestPort() {
    std::lock_guard guard(link_state_lock);
    return link_send_pid;
}

ChannelRef CurrentLinkHandle() {
    std::lock_guard guard(link_state_lock);
    return link_handle;
}

uint32 CurrentLinkGeneration() {
    std::lock_guard guard(link_state_lock);
    return link_generation;
}

bool SetLinkPort(uint32 generation, port_id port) {
    std::lock_guard guard(link_state_lock);
    if (generation != link_generation) return false;
    // A failed attempt's port could still receive that attempt's late answer; drop it.
    if (link_handle.port >= 0 && link_handle.port != port) delete_port(link_handle.port);
    link_handle = ChannelRef{port, 0};
    return true;
}

bool SetLinkChannel(uint32 generation, port_id port, uint16 chan) {
    std::lock_guard guard(link_state_lock);
    if (generation != link_generation || link_handle.port != port) return false;
    link_handle.chan = chan;
    return true;
}

void TearDownLinkState() {
    std::lock_guard guard(link_state_lock);
    // Fails harmlessly when no LINK port was ever made (B_BAD_VALUE or a creation status).
    delete_port(link_handle.port);
    link_handle = ChannelRef{};
    link_send_pid = B_BAD_VALUE;
    link_generation++;
}
