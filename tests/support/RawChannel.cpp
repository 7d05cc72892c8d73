#include "RawChannel.h"

#include <cstring>

#include "platform/ByteOrder.h"
#include "platform/HostProtocol.h"

namespace vantrel {

RawChannel::~RawChannel() {
    if (fChannel != 0) Disconnect();
    if (fReplyPort >= 0) delete_port(fReplyPort);
}

status_t RawChannel::Connect(const std::string& server, bigtime_t timeout) {
    fRequestPort = find_port(HOST_REQUEST_PORT_NAME);
    if (fRequestPort < 0) return fRequestPort;
    if (fReplyPort < 0) {
        std::string name = server.substr(0, B_OS_NAME_LENGTH - 1);
        fReplyPort = create_port(HOST_REPLY_PORT_CAPACITY, name.c_str());
        if (fReplyPort < 0) return fReplyPort;
    }
    std::vector<uint8> request(4);
    LongToBytes(static_cast<uint32>(fReplyPort), request.data());
    std::string pattern = server + ".*";
    request.insert(request.end(), pattern.begin(), pattern.end());
    request.push_back(0);
    status_t status =
        write_port(fRequestPort, HOST_CONNECT_REQUEST, request.data(), request.size());
    if (status != B_OK) return status;
    uint8 buffer[128];
    int32 code = 0;
    ssize_t got = read_port_etc(fReplyPort, &code, buffer, sizeof(buffer), B_TIMEOUT, timeout);
    if (got < 0) return static_cast<status_t>(got);
    fLastCode = code;
    if (!host_is_connect_reply(code) || host_code_channel(code) == 0) return B_BAD_VALUE;
    fChannel = host_code_channel(code);
    return B_OK;
}

status_t RawChannel::Send(const std::vector<uint8>& packet) {
    if (fChannel == 0) return B_NO_INIT;
    return write_port(fRequestPort, host_channel_packet(fChannel), packet.data(), packet.size());
}

status_t RawChannel::Receive(std::vector<uint8>& reply, bigtime_t timeout) {
    reply.clear();
    if (fReplyPort < 0) return B_NO_INIT;
    ssize_t size = port_buffer_size_etc(fReplyPort, B_TIMEOUT, timeout);
    if (size < 0) return static_cast<status_t>(size);
    reply.resize(static_cast<size_t>(size) + 1);
    int32 code = 0;
    ssize_t got = read_port_etc(fReplyPort, &code, reply.data(), reply.size(), B_TIMEOUT, timeout);
    if (got < 0) {
        reply.clear();
        return static_cast<status_t>(got);
    }
    reply.resize(static_cast<size_t>(got));
    fLastCode = code;
    return B_OK;
}

status_t RawChannel::Transact(const std::vector<uint8>& packet, std::vector<uint8>& reply,
                              bigtime_t timeout) {
    status_t status = Send(packet);
    if (status != B_OK) return status;
    return Receive(reply, timeout);
}

status_t RawChannel::Disconnect() {
    if (fChannel == 0) return B_NO_INIT;
    status_t status = write_port(fRequestPort, host_disconnect_request(fChannel), nullptr, 0);
    fChannel = 0;
    return status;
}

std::vector<uint8> Series3Packet(uint16 opcode, const std::vector<uint8>& payload) {
    std::vector<uint8> packet(4);
    WordToBytes(opcode, packet.data());
    WordToBytes(static_cast<uint16>(payload.size()), packet.data() + 2);
    packet.insert(packet.end(), payload.begin(), payload.end());
    return packet;
}

}  // namespace vantrel
