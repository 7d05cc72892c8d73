// linkgate loaded as the host loads it: its exports, the 'link' request through the host
// application's handler chain, and the gateway's life across two links.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>

#include "ClientThread.h"
#include "DodedIVU.h"
#include "GatewayClient.h"
#include "GatewayTestSupport.h"
#include "kits/Message.h"
#include "kits/Messenger.h"
#include "platform/HostProtocol.h"

namespace {

typedef int32 (*RunClientFunc)(int32);

using gate_client::kConn;
using gate_client::kLink;

struct AddOn {
    AddOn() : image(dlopen(TAVRO_CLIENT_ADDON_DIR "/linkgate.so", RTLD_NOW | RTLD_LOCAL)) {}
    ~AddOn() {
        // The looper and its thread live until the process ends, so the image stays loaded.
    }
    template <typename T>
    T Symbol(const char* name) {
        return reinterpret_cast<T>(dlsym(image, name));
    }
    void* image;
};

// Waits until the trace has `line` or 5 s pass.
bool WaitForLine(TraceCapture& trace, const std::string& line) {
    for (int i = 0; i < 500; i++) {
        std::vector<std::string> lines = trace.Lines();
        if (std::find(lines.begin(), lines.end(), line) != lines.end()) return true;
        snooze(10000);
    }
    return false;
}

// Records what passes the gateway's handler along the application's chain.
class ChainEnd : public BHandler {
public:
    ChainEnd() : BHandler("chain end") {}
    void MessageReceived(BMessage* message) override { received.push_back(*message); }
    std::vector<BMessage> received;  // the application's thread only, read after a sync send
};

}  // namespace

TEST(LinkGateAddOn, ExportsTheHostsEntryPoints) {
    AddOn addOn;
    ASSERT_NE(addOn.image, nullptr) << dlerror();
    EXPECT_STREQ(addOn.Symbol<const char*>("InfoLine1"), "RFSV = Remote Server Access");
    EXPECT_STREQ(addOn.Symbol<const char*>("InfoLine2"), "used to connect the BeOS to");
    EXPECT_STREQ(addOn.Symbol<const char*>("InfoLine3"), "PSION Servers");
    EXPECT_EQ(std::string(addOn.Symbol<const char*>("InfoVersion")).rfind("1.0.0  ", 0), 0u);
    auto initialise = addOn.Symbol<int32 (*)()>("Initialise");
    ASSERT_NE(initialise, nullptr);
    EXPECT_EQ(initialise(), 0);
    EXPECT_NE(addOn.Symbol<RunClientFunc>("RunClient"), nullptr);
    EXPECT_EQ(addOn.Symbol<void*>("ConfigView"), nullptr);
}

TEST(LinkGateAddOn, ServesLinkRequestsAcrossTwoLinks) {
    // LATE's first connect request goes unanswered on each link: a second, not three.
    setenv("TAVRO_GATE_CONNECT_MS", "1000", 1);
    AddOn addOn;
    ASSERT_NE(addOn.image, nullptr) << dlerror();
    auto runClient = addOn.Symbol<RunClientFunc>("RunClient");
    DodedIVU application;
    ASSERT_EQ(application.Start(), B_OK);
    auto device = std::make_unique<ServersDevice>();
    device->SetServer("LATE", ServersDevice::Answer::kAfterRegister);
    TraceCapture trace;

    // Before the first RunClient nothing answers 'link'.
    BMessage early(kLink), earlyReply;
    ASSERT_EQ(be_app_messenger.SendMessage(&early, &earlyReply), B_OK);
    EXPECT_EQ(earlyReply.what, B_NO_REPLY);

    // First link.
    auto client = std::make_unique<ClientThread>(runClient, 3, "linkgate client");
    ASSERT_TRUE(WaitForLine(trace, "ConnectHandler chained"));
    EXPECT_EQ(trace.Lines(),
              (std::vector<std::string>{"linklooper running", "ConnectHandler chained"}));
    int32 handlers = application.CountHandlers();

    trace.Clear();
    BMessenger gateway;
    ASSERT_NO_FATAL_FAILURE(gate_client::AskLink("client", "test", &gateway));
    EXPECT_TRUE(gateway.IsValid());
    EXPECT_EQ(trace.Lines(), std::vector<std::string>{"ConnectHandler got msg 6c696e6b"});

    bigtime_t asked = system_time();
    BMessage connReply = gate_client::Connect(gateway, "LATE");
    EXPECT_LT(system_time() - asked, 2900000);  // the wait from the environment, not 3 s
    ASSERT_EQ(connReply.what, kConn);
    port_id firstRequestPort = device->RequestPort();
    port_id firstLinkPort = RequestPortField(device->Requests()[1]);
    ASSERT_EQ(RequestPattern(device->Requests()[1]), "LINK.*");

    // Messages the gateway does not want pass on along the host's chain, unchanged.
    ChainEnd chainEnd;
    ASSERT_EQ(application.ChainHandler(&chainEnd), B_OK);
    trace.Clear();
    BMessage other('zzzz'), otherReply;
    other.AddInt32("n", 5);
    ASSERT_EQ(be_app_messenger.SendMessage(&other, &otherReply), B_OK);
    EXPECT_EQ(otherReply.what, B_NO_REPLY);
    ASSERT_EQ(chainEnd.received.size(), 1u);
    EXPECT_EQ(chainEnd.received[0].what, 'zzzz');
    int32 n;
    EXPECT_EQ(chainEnd.received[0].FindInt32("n", &n), B_OK);
    EXPECT_EQ(trace.Lines(), std::vector<std::string>{"ConnectHandler got msg 7a7a7a7a"});

    // Thread messages other than the link-down message are ignored.
    ASSERT_EQ(send_data(client->Thread(), 0x12345, "data", 4), B_OK);
    snooze(100000);
    ASSERT_EQ(client->LinkDown(), B_OK);
    EXPECT_EQ(client->Wait(), 0);
    EXPECT_EQ(trace.Lines().back(), "LinkGate received PSION_DISC");
    EXPECT_EQ(port_count(firstLinkPort), B_BAD_PORT_ID);

    // 'link' is still answered while the link is down.
    trace.Clear();
    BMessenger stillGateway;
    ASSERT_NO_FATAL_FAILURE(gate_client::AskLink("client", "down", &stillGateway));
    EXPECT_TRUE(stillGateway == gateway);

    // Second link: a new "WritePsion"; no second looper, no second handler.
    device = std::make_unique<ServersDevice>();
    device->SetServer("LATE", ServersDevice::Answer::kAfterRegister);
    ASSERT_NE(device->RequestPort(), firstRequestPort);
    trace.Clear();
    client = std::make_unique<ClientThread>(runClient, 3, "linkgate client");
    snooze(100000);
    EXPECT_EQ(application.CountHandlers(), handlers + 1);  // only chainEnd was added
    EXPECT_EQ(gate_client::Connect(gateway, "LATE").what, kConn);
    std::vector<std::string> lines = trace.Lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "linklooper running"), 0);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "ConnectHandler chained"), 0);
    // "WritePsion" was looked up again (the requests reached the new device) and a new LINK
    // channel was opened on it.
    ASSERT_EQ(device->Requests().size(), 4u);
    EXPECT_EQ(RequestPattern(device->Requests()[1]), "LINK.*");
    EXPECT_NE(RequestPortField(device->Requests()[1]), firstLinkPort);

    ASSERT_EQ(client->LinkDown(), B_OK);
    EXPECT_EQ(client->Wait(), 0);
    application.Lock();
    application.RemoveHandler(&chainEnd);
    application.Unlock();
    application.Stop();
    unsetenv("TAVRO_GATE_CONNECT_MS");
}
