// A test client of the host's request port that speaks the raw messages: connect to a server
// by name, send packets and read their replies on its own reply port, disconnect.
#pragma once

#include <string>
#include <vector>

#include "platform/OS.h"

namespace vantrel {

class RawChannel {
public:
    RawChannel() = default;
    ~RawChannel();  // disconnects if connected and deletes the reply port
    RawChannel(const RawChannel&) = delete;
    RawChannel& operator=(const RawChannel&) = delete;

    // Creates a reply port, sends the connect request for "<server>.*" to "WritePsion" and
    // waits up to `timeout` µs for the answer. B_OK and Channel() set on success; B_TIMED_OUT
    // when the device has no such server; B_BAD_VALUE when no answer code is a connect reply.
    status_t Connect(const std::string& server, bigtime_t timeout = 3000000);
    // Sends one channel packet and reads one reply message into `reply`.
    status_t Transact(const std::vector<uint8>& packet, std::vector<uint8>& reply,
                      bigtime_t timeout = 3000000);
    status_t Send(const std::vector<uint8>& packet);
    status_t Receive(std::vector<uint8>& reply, bigtime_t timeout = 3000000);
    // Sends the disconnect request; the reply port stays.
    status_t Disconnect();

    uint16 Channel() const { return fChannel; }
    port_id ReplyPort() const { return fReplyPort; }
    int32 LastReplyCode() const { return fLastCode; }

private:
    port_id fRequestPort = -1;
    port_id fReplyPort = -1;
    uint16 fChannel = 0;
    int32 fLastCode = 0;
};

// Builds a Series 3 request packet: opcode, payload length, payload.
std::vector<uint8> Series3Packet(uint16 opcode, const std::vector<uint8>& payload);

}  // namespace vantrel
