#include "LinkState.h"

#include <mutex>

#include "platform/HostProtocol.h"

port_id link_send_pid = B_BAD_VALUE;
ChannelRef linkhandle;

namespace {

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
    return linkhandle;
}

uint32 CurrentLinkGeneration() {
    std::lock_guard guard(link_state_lock);
    return link_generation;
}

bool SetLinkPort(uint32 generation, port_id port) {
    std::lock_guard guard(link_state_lock);
    if (generation != link_generation) return false;
    // A failed attempt's port could still receive that attempt's late answer; drop it.
    if (linkhandle.port >= 0 && linkhandle.port != port) delete_port(linkhandle.port);
    linkhandle = ChannelRef{port, 0};
    return true;
}

bool SetLinkChannel(uint32 generation, port_id port, uint16 chan) {
    std::lock_guard guard(link_state_lock);
    if (generation != link_generation || linkhandle.port != port) return false;
    linkhandle.chan = chan;
    return true;
}

void TearDownLinkState() {
    std::lock_guard guard(link_state_lock);
    // Fails harmlessly when no LINK port was ever made (B_BAD_VALUE or a creation status).
    delete_port(linkhandle.port);
    linkhandle = ChannelRef{};
    link_send_pid = B_BAD_VALUE;
    link_generation++;
}
