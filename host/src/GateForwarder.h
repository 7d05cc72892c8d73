// What arrives at the gateway door goes on to linkgate as the messages it already answers:
// 'link' to the host application for the gateway's messenger, then 'conn', 'pcmd' and 'disc'.
// Safe to call from several threads; linkgate serves the requests one after another.
#pragma once

#include <mutex>
#include <string>

#include "host/PacketText.h"
#include "kits/Messenger.h"
#include "platform/OS.h"

namespace vantrel::gate {

struct GateChannel {
    port_id port = B_BAD_VALUE;
    uint16 chan = 0;
};

class GateForwarder {
public:
    // replyTimeout bounds the wait for linkgate's answer to one request (its own time limits
    // reach 36 s for a connect, and requests of other clients may be ahead in its queue).
    explicit GateForwarder(bigtime_t replyTimeout = 120000000);

    // B_OK with the channel; B_NAME_NOT_FOUND when linkgate is not there to answer;
    // B_ERROR when the server could not be reached; B_TIMED_OUT.
    status_t Connect(const std::string& server, GateChannel& channel);
    // B_OK with the server's reply bytes; B_NAME_NOT_FOUND; B_ERROR when no reply came (the
    // command may still have been carried out); B_TIMED_OUT.
    status_t Command(const GateChannel& channel, const PacketBytes& packet, PacketBytes& reply);
    status_t Disconnect(const GateChannel& channel);

private:
    status_t Gateway(BMessenger& gateway);
    bool AskForGateway();  // with fLock held

    bigtime_t fReplyTimeout;
    std::mutex fLock;
    BMessenger fGateway;
};

}  // namespace vantrel::gate
