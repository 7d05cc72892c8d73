// Fault specifications and their decisions, and the packet trace's lines and counts.
#include <cstdio>

#include "DeviceTestSupport.h"
#include "device/Faults.h"
#include "device/PacketTrace.h"

using namespace devtest;
using namespace handheld;

namespace {

TEST(FaultRule, ParsesTheCommandLineForms) {
    auto drop = FaultRule::Parse("drop:3x2@SYS$RFSV");
    ASSERT_TRUE(drop);
    EXPECT_EQ(drop->kind, FaultKind::NoReply);
    EXPECT_EQ(drop->nth, 3u);
    EXPECT_EQ(drop->count, 2u);
    EXPECT_EQ(drop->server, "SYS$RFSV");
    auto late = FaultRule::Parse("late:2:150");
    ASSERT_TRUE(late);
    EXPECT_EQ(late->delay, 150000);
    auto cut = FaultRule::Parse("truncate:1:3");
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->keepBytes, 3u);
    EXPECT_EQ(cut->ToString(), "truncate:1:3");
    EXPECT_TRUE(FaultRule::Parse("garbage:4"));
    EXPECT_TRUE(FaultRule::Parse("cut:1"));
    for (const char* bad : {"", "drop", "drop:0", "drop:x", "drop:1:2", "late:1:2:3", "what:1",
                            "drop:1@", "drop:2x0", "late:1:-5"})
        EXPECT_FALSE(FaultRule::Parse(bad)) << bad;
}

TEST(FaultInjector, StrikesOnTheNthMatchingRequestOnly) {
    FaultInjector faults;
    FaultRule rule;
    rule.kind = FaultKind::NoReply;
    rule.nth = 2;
    rule.count = 2;
    rule.server = "SYS$RFSV";
    faults.Add(rule);
    Bytes reply{1, 2, 3};
    std::vector<FaultDecision::Action> actions;
    actions.push_back(faults.Apply("SYS$RFSV", reply).action);  // 1
    actions.push_back(faults.Apply("LINK", reply).action);      // other server: not counted
    actions.push_back(faults.Apply("sys$rfsv", reply).action);  // 2
    actions.push_back(faults.Apply("SYS$RFSV", reply).action);  // 3
    actions.push_back(faults.Apply("SYS$RFSV", reply).action);  // 4
    using A = FaultDecision::Action;
    EXPECT_EQ(actions, (std::vector<A>{A::Deliver, A::Deliver, A::Drop, A::Drop, A::Deliver}));
    EXPECT_EQ(faults.Strikes(), 2u);
}

TEST(FaultInjector, ReplyFaultsChangeTheReply) {
    FaultInjector faults(7);
    Bytes reply(40, 0xAA);
    faults.Add(*FaultRule::Parse("truncate:1:5"));
    FaultDecision d = faults.Apply("X", reply);
    EXPECT_EQ(d.action, FaultDecision::Action::Deliver);
    EXPECT_STREQ(d.name, "truncate");
    EXPECT_EQ(reply.size(), 5u);

    faults.Set({*FaultRule::Parse("garbage:1")});
    reply.assign(40, 0xAA);
    faults.Apply("X", reply);
    EXPECT_EQ(reply.size(), 40u);
    EXPECT_NE(reply, Bytes(40, 0xAA));

    faults.Set({*FaultRule::Parse("late:1:250"), *FaultRule::Parse("cut:2")});
    d = faults.Apply("X", reply);
    EXPECT_EQ(d.action, FaultDecision::Action::Delay);
    EXPECT_EQ(d.delay, 250000);
    EXPECT_EQ(faults.Apply("X", reply).action, FaultDecision::Action::CutLink);
    faults.Clear();
    EXPECT_EQ(faults.Apply("X", reply).action, FaultDecision::Action::Deliver);
}

TEST(PacketTrace, CountsRequestsByOpcodeAndChannel) {
    PacketTrace trace;
    Bytes finfo = Payload().Str("M:\\A").Packet(FINFO);
    Bytes fread = Payload().Word(1).Word(10).Packet(FREAD);
    trace.Record(TraceDir::Out, 3, TraceEvent::Request, finfo.data(), finfo.size());
    trace.Record(TraceDir::Out, 4, TraceEvent::Request, finfo.data(), finfo.size());
    trace.Record(TraceDir::Out, 3, TraceEvent::Request, fread.data(), fread.size());
    trace.Record(TraceDir::In, 3, TraceEvent::Reply, fread.data(), fread.size());
    EXPECT_EQ(trace.CountRequests(FINFO), 2u);
    EXPECT_EQ(trace.CountRequests(3, FINFO), 1u);
    EXPECT_EQ(trace.CountRequests(FREAD), 1u);  // the reply does not count
    EXPECT_EQ(trace.CountRequests(MKDIR), 0u);
    EXPECT_EQ(trace.CountEvents(TraceEvent::Reply, 3), 1u);
    trace.Reset();
    EXPECT_EQ(trace.CountRequests(FINFO), 0u);
}

TEST(PacketTrace, WritesOneLinePerPacket) {
    TempFolder folder;
    PacketTrace trace;
    ASSERT_TRUE(trace.SetFile(folder / "trace.txt"));
    trace.KeepRecords(true);
    Bytes bytes{0x16, 0x00, 0x01, 0x00, 0x00};
    trace.Record(TraceDir::Out, 5, TraceEvent::Request, bytes.data(), bytes.size());
    trace.Record(TraceDir::Drop, 9, TraceEvent::Unknown, nullptr, 0, "channel not open");
    std::string text = folder.Read("trace.txt");
    ASSERT_EQ(std::count(text.begin(), text.end(), '\n'), 2);
    std::string first = text.substr(0, text.find('\n'));
    EXPECT_NE(first.find(" out ch=5 request len=5 16 00 01 00 00"), std::string::npos) << first;
    EXPECT_NE(text.find("drop ch=9 unknown len=0 [channel not open]"), std::string::npos);
    double seconds = -1;
    EXPECT_EQ(sscanf(first.c_str(), "%lf", &seconds), 1);
    EXPECT_GE(seconds, 0);
    EXPECT_EQ(trace.Records().size(), 2u);
}

}  // namespace
