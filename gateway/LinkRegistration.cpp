#include "LinkRegistration.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "GatewayWaits.h"
#include "LinkPackets.h"
#include "LinkState.h"
#include "ServerChannel.h"
#include "platform/HostProtocol.h"

namespace {

constexpr size_t kConnectAnswerSize = 128;

}  // namespace

uint16 ConnLinkSrv() {
    printf("ConnLinkSrv \n");
    ChannelRef current = CurrentLinkHandle();
    if (current.chan != 0) return current.chan;

    uint32 generation = CurrentLinkGeneration();
    port_id port = GetPort("LINK");
    if (!SetLinkPort(generation, port)) {
        // The link went down meanwhile; this attempt belongs to the old link.
        if (port > 0) delete_port(port);
        return 0;
    }
    if (port < 0) return 0;

    uint8 request[kConnectRequestMax];
    size_t length =
        host_connect_request(request, sizeof(request), port, "LINK", kLinkConnectRequestSize);
    // A failed write shows up as the missing answer.
    (void)write_port(CurrentRequestPort(), HOST_CONNECT_REQUEST, request, length);

    uint8 answer[kConnectAnswerSize];
    int32 code = 0;
    ssize_t read = read_port_etc(port, &code, answer, sizeof(answer), B_TIMEOUT,
                                 CurrentGatewayWaits().linkConnect);
    if (read < 0 || !host_is_connect_reply(code)) return 0;

    uint16 chan = host_code_channel(code);
    if (!SetLinkChannel(generation, port, chan)) return 0;
    printf("Link Server is running... [chan ID=%x]\n", chan);
    return chan;
}

bool LinkReq(const char* name) {
    printf("LinkReq [%s]\n", name != nullptr ? name : "(null)");
    if (name == nullptr || strlen(name) > kMaxRegisterName) {
        printf("Server name [%s] is too long for a register request\n",
               name != nullptr ? name : "(null)");
        return false;
    }
    if (ConnLinkSrv() == 0) return false;

    uint8 request[kRegisterRequestMax];
    uint16 check = static_cast<uint16>(random() & 0xFFFF);
    size_t length = BuildRegisterRequest(name, check, request);
    printf("regreq i %d bytes, reply in %d\n", static_cast<int>(kRegisterRequestMax),
           static_cast<int>(kRegisterReplyExpected));
    printf("LinkReq calling DoCmd [%s]\n", reinterpret_cast<const char*>(request + 3));

    ChannelRef link = CurrentLinkHandle();
    void* reply = nullptr;
    int32 result = DoCmd(link, request, length, &reply);
    if (result > 0 && reply != nullptr) {
        TraceRegisterReply(static_cast<const uint8*>(reply), static_cast<size_t>(result), check);
        free(reply);
        return true;
    }
    printf("Bad response %d from Register cmd!\n", static_cast<int>(result));
    return false;
}
