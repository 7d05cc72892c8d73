#include "GateForwarder.h"

#include <cstring>

#include "kits/Application.h"
#include "kits/Message.h"

namespace vantrel::gate {

namespace {

constexpr uint32 kLink = 'link', kConn = 'conn', kPcmd = 'pcmd', kDisc = 'disc', kData = 'data';
// The application and the gateway looper answer at once; only the device makes anyone wait.
constexpr bigtime_t kDeliveryTimeout = 5000000;
constexpr bigtime_t kLinkReplyTimeout = 5000000;
// How long a request waits for linkgate to register after the link came up.
constexpr bigtime_t kGatewayStartWait = 2000000;
constexpr bigtime_t kGatewayPoll = 20000;

}  // namespace

GateForwarder::GateForwarder(bigtime_t replyTimeout) : fReplyTimeout(replyTimeout) {}

status_t GateForwarder::Gateway(BMessenger& gateway) {
    // linkgate starts beside the other client add-ons when the link comes up: a request that
    // arrives in that moment waits for it rather than being told there is no gateway.
    const bigtime_t giveUp = system_time() + kGatewayStartWait;
    for (;;) {
        {
            std::lock_guard<std::mutex> guard(fLock);
            // linkgate's looper lives until the process ends: once found, it stays.
            if (fGateway.IsValid() || AskForGateway()) {
                gateway = fGateway;
                return B_OK;
            }
        }
        if (system_time() >= giveUp) return B_NAME_NOT_FOUND;
        snooze(kGatewayPoll);
    }
}

bool GateForwarder::AskForGateway() {
    BMessage request(kLink), reply;
    status_t status =
        be_app_messenger.SendMessage(&request, &reply, kDeliveryTimeout, kLinkReplyTimeout);
    if (status != B_OK || reply.what != kLink ||
        reply.FindMessenger("messenger", &fGateway) != B_OK || !fGateway.IsValid()) {
        fGateway = BMessenger();
        return false;
    }
    return true;
}

status_t GateForwarder::Connect(const std::string& server, GateChannel& channel) {
    BMessenger gateway;
    status_t status = Gateway(gateway);
    if (status != B_OK) return status;
    BMessage request(kConn), reply;
    request.AddString("server", server.c_str());
    status = gateway.SendMessage(&request, &reply, kDeliveryTimeout, fReplyTimeout);
    if (status != B_OK) return status;
    if (reply.what != kConn) return B_ERROR;
    int32 port;
    int16 chan;
    if (reply.FindInt32("port_id", &port) != B_OK || reply.FindInt16("chan_id", &chan) != B_OK)
        return B_ERROR;
    channel.port = port;
    channel.chan = static_cast<uint16>(chan);
    return channel.chan != 0 ? B_OK : B_ERROR;
}

status_t GateForwarder::Command(const GateChannel& channel, const PacketBytes& packet,
                                PacketBytes& reply) {
    BMessenger gateway;
    status_t status = Gateway(gateway);
    if (status != B_OK) return status;
    BMessage request(kPcmd), answer;
    // linkgate needs the field even for an empty packet.
    static const uint8 kNothing = 0;
    request.AddData("command", B_RAW_TYPE, packet.empty() ? &kNothing : packet.data(),
                    static_cast<ssize_t>(packet.size()));
    request.AddInt32("port_id", channel.port);
    request.AddInt16("chan_id", static_cast<int16>(channel.chan));
    status = gateway.SendMessage(&request, &answer, kDeliveryTimeout, fReplyTimeout);
    if (status != B_OK) return status;
    if (answer.what != kData) return B_ERROR;
    const void* data = nullptr;
    ssize_t size = 0;
    if (answer.FindData("data", B_RAW_TYPE, &data, &size) != B_OK || size < 0) return B_ERROR;
    const auto* bytes = static_cast<const uint8*>(data);
    reply.assign(bytes, bytes + size);
    return B_OK;
}

status_t GateForwarder::Disconnect(const GateChannel& channel) {
    BMessenger gateway;
    status_t status = Gateway(gateway);
    if (status != B_OK) return status;
    BMessage request(kDisc);
    request.AddInt32("port_id", channel.port);
    request.AddInt16("chan_id", static_cast<int16>(channel.chan));
    // 'disc' has no answer, but waiting for the B_NO_REPLY that comes when linkgate is done
    // with it means the disconnect is on its way to the handheld before the client hears "ok".
    BMessage done;
    return gateway.SendMessage(&request, &done, kDeliveryTimeout, fReplyTimeout);
}

}  // namespace vantrel::gate
