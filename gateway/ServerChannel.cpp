// Connecting to a named server, exchanging command packets and closing channels.
#include "ServerChannel.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "GatewayWaits.h"
#include "LinkPackets.h"
#include "LinkRegistration.h"
#include "LinkState.h"
#include "platform/HostProtocol.h"

namespace {

constexpr size_t kConnectAnswerSize = 128;

const char* Printable(const char* name) { return name != nullptr ? name : "(null)"; }

}  // namespace

port_id GetPort(const char* name) {
    printf("GetPort [%s]\n", Printable(name));
    if (LookUpRequestPort() < 0) return B_BAD_VALUE;
    port_id port = name != nullptr ? create_port(kChannelPortCapacity, name) : 0;
    printf("GetPort [%s] port %d\n", Printable(name), static_cast<int>(port));
    return port;
}

ChannelRef ConnReq(const char* name) {
    ChannelRef ref;
    printf("ConnReq [%s]\n", Printable(name));
    if (name == nullptr || strlen(name) > kMaxConnectName) {
        printf("Server name [%s] is too long for a connect request\n", Printable(name));
        return ref;
    }
    port_id port = GetPort(name);
    if (port < 0) return ref;

    uint8 request[kConnectRequestMax];
    size_t length = host_connect_request(request, sizeof(request), port, name);
    printf("Requesting Server start with %s (size %d)\n",
           reinterpret_cast<const char*>(request + 4), static_cast<int>(length));
    // A failed write shows up as the missing answer.
    (void)write_port(CurrentRequestPort(), HOST_CONNECT_REQUEST, request, length);

    uint8 answer[kConnectAnswerSize];
    int32 code = 0;
    ssize_t read = read_port_etc(port, &code, answer, sizeof(answer), B_TIMEOUT,
                                 CurrentGatewayWaits().connect);
    printf("response: r_byte = %d msg %x\n", static_cast<int>(read), code);
    if (read >= 0 && host_is_connect_reply(code)) {
        printf("Server %s is running...\n", name);
        ref.port = port;
        ref.chan = host_code_channel(code);
        return ref;
    }
    printf("ConnReq failed -- deleting port %d\n", static_cast<int>(port));
    delete_port(port);
    return ref;
}

ChannelRef ConnectServer(const char* name) {
    printf("ConnectServer [%s]\n", Printable(name));
    // A name the connect request cannot carry whole is refused before anything is sent.
    if (name == nullptr || strlen(name) > kMaxConnectName) {
        printf("Server name [%s] is too long for a connect request\n", Printable(name));
        printf("Failed to connect to server %s\n", Printable(name));
        return ChannelRef{};
    }
    ChannelRef ref = ConnReq(name);
    if (ref.chan != 0) return ref;
    (void)LinkReq(name);  // the retry is made either way
    ref = ConnReq(name);
    if (ref.chan == 0) printf("Failed to connect to server %s\n", name);
    return ref;
}

int32 DoCmd(ChannelRef& ref, const void* packet, unsigned long length, void** reply) {
    printf("DoCmd to chan ID %x (rcv port %d), pkt len %d\n", ref.chan, static_cast<int>(ref.port),
           static_cast<int>(length));
    if (reply != nullptr) *reply = nullptr;

    status_t written =
        write_port(CurrentRequestPort(), host_channel_packet(ref.chan), packet, length);
    printf("write_port result %d\n", static_cast<int>(written));
    if (written < 0) return written;

    const bigtime_t replyWait = CurrentGatewayWaits().reply;
    ssize_t size = port_buffer_size_etc(ref.port, B_TIMEOUT, replyWait);
    printf("port_buffer_size result %d\n", static_cast<int>(size));
    if (size <= 0) {
        // An empty reply is taken off the port, or the next command on this channel would
        // take it for its own reply.
        if (size == 0) {
            int32 code;
            (void)read_port_etc(ref.port, &code, nullptr, 0, B_TIMEOUT, 0);
        }
        return static_cast<int32>(size);
    }

    void* buffer = malloc(static_cast<size_t>(size));
    if (buffer == nullptr) return B_NO_MEMORY;
    int32 code;
    ssize_t read =
        read_port_etc(ref.port, &code, buffer, static_cast<size_t>(size), B_TIMEOUT, replyWait);
    printf("read_port result %d\n", static_cast<int>(read));
    if (read > 0 && reply != nullptr) {
        *reply = buffer;
    } else {
        free(buffer);
    }
    return static_cast<int32>(read);
}

status_t Disconnect(ChannelRef ref) {
    return write_port(CurrentRequestPort(), host_disconnect_request(ref.chan), nullptr, 0);
}
