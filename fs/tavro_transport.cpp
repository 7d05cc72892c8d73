// tavro3's transport: one request out on the connection's channel, its reply back from the
// reply port, under the connection's transport semaphore.
#include "tavro_transport.h"

#include <cstdlib>
#include <map>
#include <mutex>

#include "platform/ByteOrder.h"
#include "platform/HostProtocol.h"
#include "platform/Series3Wire.h"

namespace {

// Replies carry no tag, so a reply that comes after its request timed out would be taken as
// the answer to the next request on the same reply port. Each connection (reply port) counts
// the replies it still owes; the counts are read and changed only while the connection's
// transport semaphore is held.
std::mutex owedLock;
std::map<port_id, int32> owedReplies;

int32 owed_replies(port_id port) {
    std::lock_guard<std::mutex> hold(owedLock);
    auto found = owedReplies.find(port);
    return found == owedReplies.end() ? 0 : found->second;
}

void set_owed_replies(port_id port, int32 count) {
    std::lock_guard<std::mutex> hold(owedLock);
    if (count == 0)
        owedReplies.erase(port);
    else
        owedReplies[port] = count;
}

void discard_one(port_id port, bigtime_t timeout) {
    ssize_t size = port_buffer_size_etc(port, B_TIMEOUT, timeout);
    if (size < 0) return;
    uint8 scratch[64];
    int32 code;
    // A reader with a short buffer still takes the whole message off the port.
    (void)read_port_etc(port, &code, scratch, sizeof scratch, B_TIMEOUT, 0);
}

// A reply still owed is waited for this many reply times more (three in all since its request
// went) before it counts as lost: a late reply taken for the answer to the next request would
// be believed.
constexpr int32 kOwedReplyWaits = 2;

// Called with the transport semaphore held, so no other request of the connection is
// outstanding: whatever is on the reply port now answers an earlier request. A reply still
// owed is waited for; after that it counts as lost.
void discard_stale_replies(volume* vol) {
    int32 owed = owed_replies(vol->readPort);
    if (owed > 0) {
        for (int32 i = 0; i < owed; i++) {
            if (port_buffer_size_etc(vol->readPort, B_TIMEOUT, kOwedReplyWaits * vol->sizeTimeout) <
                0)
                break;
            discard_one(vol->readPort, 0);
        }
        set_owed_replies(vol->readPort, 0);
    }
    while (port_count(vol->readPort) > 0) discard_one(vol->readPort, 0);
}

}  // namespace

uint8* send_command_noting(volume* vol, const uint8* request, int32* reply_size,
                           status_t* transport, ReplyHook hook, void* context) {
    *reply_size = 0;
    if (!vol->connected.load()) return nullptr;  // the link is gone for good
    size_t size = RFSV_REQUEST_HEADER_SIZE + BytesToUword(request + 2);

    status_t status = acquire_sem(vol->sem);
    if (status != B_OK) {
        *transport = status;
        return nullptr;
    }
    discard_stale_replies(vol);

    uint8* reply = nullptr;
    ssize_t result = write_port(vol->writePort, host_channel_packet(vol->channel), request, size);
    if (result >= 0) result = port_buffer_size_etc(vol->readPort, B_TIMEOUT, vol->sizeTimeout);
    if (result >= 0) {
        size_t wanted = static_cast<size_t>(result);
        reply = static_cast<uint8*>(malloc(wanted > 0 ? wanted : 1));
        if (reply == nullptr) {
            result = B_NO_MEMORY;  // the reply stays on the port; the next request drops it
        } else {
            int32 code;
            result =
                read_port_etc(vol->readPort, &code, reply, wanted, B_TIMEOUT, vol->replyTimeout);
        }
    }
    if (result == B_TIMED_OUT) set_owed_replies(vol->readPort, owed_replies(vol->readPort) + 1);

    if (result < 0) {
        *transport = static_cast<status_t>(result);
        if (result == B_BAD_PORT_ID) vol->connected.store(0);
        free(reply);
        reply = nullptr;
    } else {
        *transport = B_OK;
        *reply_size = static_cast<int32>(result);
    }
    if (hook != nullptr)
        hook(vol, reply, reply != nullptr ? static_cast<size_t>(result) : 0, context);
    release_sem(vol->sem);
    return reply;
}

uint8* send_command(volume* vol, const uint8* request, int32* reply_size, status_t* transport) {
    return send_command_noting(vol, request, reply_size, transport, nullptr, nullptr);
}
