// linkgate inside the host: loaded by vantrel's host library, chained into its application
// object, in front of the simulated Series 3 (its LINK server, SYS$RFSV which always runs, and
// ECHO, which accepts connects only once LINK has registered it).
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "GatewayClient.h"
#include "GatewayTestSupport.h"
#include "LinkGateHost.h"
#include "platform/HostProtocol.h"

namespace {

using handheld::TraceDir;
using handheld::TraceEvent;
using handheld::TraceRecord;
using namespace gate_client;

// The connect requests and channel packets that went out, in order.
std::vector<TraceRecord> Outgoing(vantrel::HostLink& host) {
    std::vector<TraceRecord> out;
    for (const TraceRecord& record : host.Trace().Records()) {
        if (record.event == TraceEvent::Connect || record.event == TraceEvent::Request ||
            record.event == TraceEvent::Disconnect)
            out.push_back(record);
    }
    return out;
}

std::string PatternOf(const TraceRecord& connect) {
    ScriptedDevice::Request request{HOST_CONNECT_REQUEST, connect.bytes};
    return RequestPattern(request);
}

port_id PortOf(const TraceRecord& connect) {
    ScriptedDevice::Request request{HOST_CONNECT_REQUEST, connect.bytes};
    return RequestPortField(request);
}

// One application object and one host for the whole suite, as in vantrel: linkgate chains
// its handler into the application once, on the first link.
class GatewayHost : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        setenv("TAVRO_GATE_CONNECT_MS", "1000", 1);  // before any thread could read it
        stack = new LinkGateHost();
        ASSERT_EQ(stack->Start(), B_OK);
        host = stack->host.get();
        application = &stack->application;
    }
    static void TearDownTestSuite() {
        delete stack;
        unsetenv("TAVRO_GATE_CONNECT_MS");
    }

    // Every test starts on a fresh link, with the gateway's messenger in hand.
    void SetUp() override {
        trace = std::make_unique<TraceCapture>();
        ASSERT_EQ(stack->Relink(), B_OK);
        // 'link' is answered once the first RunClient has chained the handler.
        for (int i = 0; i < 500 && !gateway.IsValid(); i++) {
            BMessage link(kLink), reply;
            ASSERT_EQ(be_app_messenger.SendMessage(&link, &reply), B_OK);
            if (reply.what == kLink) {
                ASSERT_EQ(reply.FindMessenger("messenger", &gateway), B_OK);
            }
            if (!gateway.IsValid()) snooze(10000);
        }
        ASSERT_TRUE(gateway.IsValid());
        host->Trace().Reset();
        trace->Clear();
    }
    void TearDown() override { trace.reset(); }

    static LinkGateHost* stack;
    static DodedIVU* application;
    static vantrel::HostLink* host;
    static BMessenger gateway;
    std::unique_ptr<TraceCapture> trace;
};

LinkGateHost* GatewayHost::stack = nullptr;
DodedIVU* GatewayHost::application = nullptr;
vantrel::HostLink* GatewayHost::host = nullptr;
BMessenger GatewayHost::gateway;

}  // namespace

TEST_F(GatewayHost, LinkRequestIsAnsweredWithTheLoopersMessenger) {
    BMessenger messenger;
    ASSERT_NO_FATAL_FAILURE(AskLink("application", "x-vnd.test-client", &messenger));
    EXPECT_TRUE(messenger == gateway);
    BLooper* looper = nullptr;
    messenger.Target(&looper);
    EXPECT_NE(looper, nullptr);
    EXPECT_NE(looper, application);
    EXPECT_EQ(trace->Lines(), std::vector<std::string>{"ConnectHandler got msg 6c696e6b"});
}

TEST_F(GatewayHost, ConnectToAServerThatAnswersAtOnce) {
    int32 port;
    int16 chan;
    ASSERT_NO_FATAL_FAILURE(ConnectionOf(Connect(gateway, "SYS$RFSV"), &port, &chan));
    std::vector<TraceRecord> wire = Outgoing(*host);
    ASSERT_EQ(wire.size(), 1u);  // no register request
    EXPECT_EQ(PatternOf(wire[0]), "SYS$RFSV.*");
    EXPECT_EQ(wire[0].bytes.size(), 15u);
    EXPECT_EQ(PortOf(wire[0]), port);
    EXPECT_EQ(trace->Lines(), LooperConnectedAtOnce("SYS$RFSV", port, chan));
}

TEST_F(GatewayHost, ConnectToAServerThatAnswersOnlyAfterRegistration) {
    int32 port;
    int16 chan;
    ASSERT_NO_FATAL_FAILURE(ConnectionOf(Connect(gateway, "ECHO"), &port, &chan));

    std::vector<TraceRecord> wire = Outgoing(*host);
    ASSERT_EQ(wire.size(), 4u);
    EXPECT_EQ(PatternOf(wire[0]), "ECHO.*");
    EXPECT_EQ(PatternOf(wire[1]), "LINK.*");
    EXPECT_EQ(wire[1].bytes.size(), 12u);
    ASSERT_EQ(wire[2].event, TraceEvent::Request);
    uint16 linkChan = wire[2].channel;
    const std::vector<uint8> registerHead = {
        0x00, wire[2].bytes[1], wire[2].bytes[2], 'E', 'C', 'H', 'O', 0};
    EXPECT_EQ(wire[2].bytes, registerHead);
    EXPECT_EQ(PatternOf(wire[3]), "ECHO.*");
    EXPECT_EQ(PortOf(wire[3]), port);

    uint16 check = static_cast<uint16>(wire[2].bytes[1] | (wire[2].bytes[2] << 8));
    EXPECT_EQ(trace->Lines(), LooperConnected(ConnectedAfterRegistration(
                                                  "ECHO", PortOf(wire[0]), PortOf(wire[1]),
                                                  linkChan, check, port, static_cast<uint16>(chan)),
                                              port, chan));
}

TEST_F(GatewayHost, CommandsWithATwelveByteAndAnEmptyReply) {
    int32 port;
    int16 chan;
    ASSERT_NO_FATAL_FAILURE(ConnectionOf(Connect(gateway, "ECHO"), &port, &chan));
    trace->Clear();
    host->Trace().Reset();

    const std::vector<uint8> packet = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    std::vector<uint8> data;
    ASSERT_NO_FATAL_FAILURE(DataOf(Command(gateway, packet, port, chan), &data));
    EXPECT_EQ(data, packet);
    EXPECT_EQ(trace->Lines(), LooperCommandAnswered(chan, port, 12, 12));

    ASSERT_NO_FATAL_FAILURE(DataOf(Command(gateway, {}, port, chan), &data));
    EXPECT_TRUE(data.empty());
    EXPECT_EQ(trace->Lines().back(), "DoCmd returned 0 bytes");
    // The two packets went out on the channel unchanged.
    std::vector<TraceRecord> wire = Outgoing(*host);
    ASSERT_EQ(wire.size(), 2u);
    EXPECT_EQ(wire[0].channel, static_cast<uint16>(chan));
    EXPECT_EQ(wire[0].bytes, packet);
    EXPECT_TRUE(wire[1].bytes.empty());
}

TEST_F(GatewayHost, CommandMissingAFieldIsAnErrorWithNothingOnTheWire) {
    int32 port;
    int16 chan;
    ASSERT_NO_FATAL_FAILURE(ConnectionOf(Connect(gateway, "SYS$RFSV"), &port, &chan));
    host->Trace().Reset();
    trace->Clear();
    BMessage request(kPcmd);
    const uint8 packet[] = {0x01};
    request.AddData("command", B_RAW_TYPE, packet, 1);
    request.AddInt32("port_id", port);
    BMessage reply = Ask(gateway, request);
    EXPECT_EQ(reply.what, kEror);
    EXPECT_TRUE(reply.IsEmpty());
    EXPECT_TRUE(Outgoing(*host).empty());
    EXPECT_EQ(trace->Lines(), (std::vector<std::string>{"LinkLooper got msg dmcp", "got 'pcmd'",
                                                        "DoCmd returned -2147483643 bytes"}));
}

TEST_F(GatewayHost, DisconnectClosesTheChannel) {
    int32 port;
    int16 chan;
    ASSERT_NO_FATAL_FAILURE(ConnectionOf(Connect(gateway, "SYS$RFSV"), &port, &chan));
    size_t open = host->OpenChannels();
    trace->Clear();
    BMessage request(kDisc);
    request.AddInt32("port_id", port);
    request.AddInt16("chan_id", chan);
    EXPECT_EQ(Ask(gateway, request).what, B_NO_REPLY);
    // The router closes the channel, then traces its disconnect: wait for both.
    auto traced = [&] {
        std::vector<TraceRecord> wire = Outgoing(*host);
        return !wire.empty() && wire.back().event == TraceEvent::Disconnect;
    };
    for (int i = 0; i < 500 && (host->OpenChannels() == open || !traced()); i++) snooze(10000);
    EXPECT_EQ(host->OpenChannels(), open - 1);
    std::vector<TraceRecord> wire = Outgoing(*host);
    ASSERT_FALSE(wire.empty());
    EXPECT_EQ(wire.back().event, TraceEvent::Disconnect);
    EXPECT_EQ(wire.back().channel, static_cast<uint16>(chan));
    EXPECT_EQ(trace->Lines(), (std::vector<std::string>{"LinkLooper got msg csid", "got 'disc'"}));
    EXPECT_GE(port_count(port), 0);  // the client's reply port is left alone
}

TEST_F(GatewayHost, ASecondLinkStartsAfreshWithTheSameLooper) {
    ASSERT_EQ(Connect(gateway, "ECHO").what, kConn);
    std::vector<TraceRecord> first = Outgoing(*host);
    ASSERT_EQ(PatternOf(first[1]), "LINK.*");
    port_id firstLinkPort = PortOf(first[1]);
    port_id firstRequestPort = host->RequestPort();
    int32 handlers = application->CountHandlers();

    trace->Clear();
    ASSERT_EQ(host->LinkDown(), B_OK);
    EXPECT_EQ(trace->Lines(), std::vector<std::string>{"LinkGate received PSION_DISC"});
    EXPECT_EQ(port_count(firstLinkPort), B_BAD_PORT_ID);

    ASSERT_EQ(host->LinkUp(), B_OK);
    ASSERT_NE(host->RequestPort(), firstRequestPort);
    host->Trace().Reset();
    trace->Clear();
    ASSERT_EQ(Connect(gateway, "ECHO").what, kConn);
    EXPECT_EQ(application->CountHandlers(), handlers);  // no second handler
    BMessenger messenger;
    ASSERT_NO_FATAL_FAILURE(AskLink("client", "again", &messenger));
    EXPECT_TRUE(messenger == gateway);  // no second looper

    // The new link's requests reached the new "WritePsion", and LINK got a new channel.
    std::vector<TraceRecord> wire = Outgoing(*host);
    ASSERT_EQ(wire.size(), 4u);
    EXPECT_EQ(PatternOf(wire[1]), "LINK.*");
    EXPECT_NE(PortOf(wire[1]), firstLinkPort);
    std::vector<std::string> lines = trace->Lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "linklooper running"), 0);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "ConnectHandler chained"), 0);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "GetPort [LINK]"), 1);
}
