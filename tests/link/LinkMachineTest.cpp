// The link state machine, two ends joined by a simulated line under a fake clock.
#include <gtest/gtest.h>

#include <functional>

#include "link/LinkMachine.h"

namespace wire {
namespace {

// Two machines and the line between them. `filter` may change or drop what one end sends.
struct Line {
    LinkMachine desktop;
    LinkMachine handheld;
    bigtime_t now = 0;
    std::function<void(bool fromDesktop, Bytes& bytes)> filter;

    Line(LinkConfig d, LinkConfig h) : desktop(d), handheld(h) {}

    // Moves bytes until neither end has anything to say; returns the rounds taken.
    void Settle() {
        for (int round = 0; round < 200; ++round) {
            Bytes a = desktop.TakeOutput();
            Bytes b = handheld.TakeOutput();
            if (a.empty() && b.empty()) return;
            if (filter) {
                filter(true, a);
                filter(false, b);
            }
            handheld.Receive(a.data(), a.size(), now);
            desktop.Receive(b.data(), b.size(), now);
        }
    }
    // Advances the clock past the next deadline of either end.
    void Wait(bigtime_t step) {
        now += step;
        desktop.Tick(now);
        handheld.Tick(now);
        Settle();
    }
};

LinkConfig Desktop(uint32 window = 1) {
    LinkConfig c;
    c.role = Role::Desktop;
    c.magic = 0x11111111;
    c.sendWindow = window;
    return c;
}

LinkConfig Handheld(Variant family) {
    LinkConfig c;
    c.role = Role::Handheld;
    c.family = family;
    c.magic = 0x22222222;
    return c;
}

TEST(LinkMachine, ConnectTellsTheFamiliesApart) {
    for (Variant family : {Variant::Series3, Variant::Series5}) {
        Line line(Desktop(), Handheld(family));
        line.desktop.Start(0);
        line.handheld.Start(0);
        line.Settle();
        ASSERT_EQ(line.desktop.State(), LinkState::Up);
        ASSERT_EQ(line.handheld.State(), LinkState::Up);
        EXPECT_EQ(line.desktop.Family(), family);
        EXPECT_EQ(line.desktop.Session(), 1u);
    }
}

TEST(LinkMachine, ConnectRetriesThenGivesUpWhenNobodyAnswers) {
    LinkMachine desktop(Desktop());
    desktop.Start(0);
    int sends = 0;
    bigtime_t now = 0;
    while (desktop.State() == LinkState::Connecting) {
        if (!desktop.TakeOutput().empty()) ++sends;
        now = desktop.NextDeadline();
        ASSERT_GT(now, 0);
        desktop.Tick(now);
    }
    EXPECT_EQ(desktop.State(), LinkState::Down);
    EXPECT_EQ(desktop.Reason(), DownReason::NoAnswer);
    EXPECT_EQ(sends, 1 + static_cast<int>(kConnectRetries));
    // 19200 baud: 13200/19200 s + 0.2 s per try.
    EXPECT_EQ(desktop.RetransmitTime(), 887500);
    EXPECT_EQ(now, 5 * 887500);
}

TEST(LinkMachine, EchoingLineIsRefused) {
    LinkMachine desktop(Desktop());
    desktop.Start(0);
    for (int round = 0; round < 10 && desktop.State() == LinkState::Connecting; ++round) {
        Bytes out = desktop.TakeOutput();
        desktop.Receive(out.data(), out.size(), 0);
    }
    EXPECT_EQ(desktop.State(), LinkState::Down);
    EXPECT_EQ(desktop.Reason(), DownReason::Echo);
}

TEST(LinkMachine, DataBothWaysWithSequenceWrapAndExtendedSeq) {
    for (Variant family : {Variant::Series3, Variant::Series5}) {
        Line line(Desktop(), Handheld(family));
        line.desktop.Start(0);
        line.Settle();
        ASSERT_EQ(line.desktop.State(), LinkState::Up);
        // More frames than either modulus needs to wrap on a Series 3 and pass seq 8 on a 5.
        for (int i = 0; i < 40; ++i) {
            Bytes payload{static_cast<uint8>(i), 0x10, 0x03};
            ASSERT_TRUE(line.desktop.Send(payload, line.now));
            ASSERT_TRUE(line.handheld.Send(Bytes{static_cast<uint8>(i + 100)}, line.now));
            line.Settle();
        }
        std::deque<Bytes> atHandheld = line.handheld.TakeReceived();
        std::deque<Bytes> atDesktop = line.desktop.TakeReceived();
        ASSERT_EQ(atHandheld.size(), 40u);
        ASSERT_EQ(atDesktop.size(), 40u);
        for (int i = 0; i < 40; ++i) {
            EXPECT_EQ(atHandheld[i], (Bytes{static_cast<uint8>(i), 0x10, 0x03}));
            EXPECT_EQ(atDesktop[i], Bytes{static_cast<uint8>(i + 100)});
        }
        EXPECT_EQ(line.desktop.Stats().retransmissions, 0u);
    }
}

TEST(LinkMachine, LostAndCorruptedFramesAreSentAgainAndDeliveredOnce) {
    Line line(Desktop(), Handheld(Variant::Series5));
    line.desktop.Start(0);
    line.Settle();
    int count = 0;
    // Corrupt every third frame either way, data and acks alike.
    line.filter = [&](bool, Bytes& bytes) {
        if (!bytes.empty() && ++count % 3 == 0) bytes[bytes.size() / 2] ^= 0x01;
    };
    for (int i = 0; i < 30; ++i) {
        line.desktop.Send(Bytes{static_cast<uint8>(i)}, line.now);
        line.Settle();
        while (line.desktop.Pending() > 0) line.Wait(line.desktop.RetransmitTime());
    }
    std::deque<Bytes> got = line.handheld.TakeReceived();
    ASSERT_EQ(got.size(), 30u);
    for (int i = 0; i < 30; ++i) EXPECT_EQ(got[i], Bytes{static_cast<uint8>(i)});
    EXPECT_GT(line.desktop.Stats().retransmissions, 0u);
    EXPECT_EQ(line.desktop.State(), LinkState::Up);
}

TEST(LinkMachine, RetriesExhaustedSendsDiscAndGoesDown) {
    Line line(Desktop(), Handheld(Variant::Series3));
    line.desktop.Start(0);
    line.Settle();
    bool cut = true;
    line.filter = [&](bool, Bytes& bytes) {
        if (cut) bytes.clear();
    };
    line.desktop.Send(Bytes{1}, line.now);
    line.Settle();
    while (line.desktop.State() == LinkState::Up) line.Wait(line.desktop.RetransmitTime());
    EXPECT_EQ(line.desktop.Reason(), DownReason::RetriesExhausted);
    EXPECT_EQ(line.desktop.Stats().retransmissions, kMaxResends);
}

TEST(LinkMachine, DiscAndReconnect) {
    Line line(Desktop(), Handheld(Variant::Series5));
    line.desktop.Start(0);
    line.Settle();
    line.handheld.Disconnect(line.now);
    line.Settle();
    EXPECT_EQ(line.desktop.State(), LinkState::Down);
    EXPECT_EQ(line.desktop.Reason(), DownReason::Disc);
    // The handheld listens again; a new connect brings a new session.
    line.desktop.Start(line.now);
    line.Settle();
    EXPECT_EQ(line.desktop.State(), LinkState::Up);
    EXPECT_EQ(line.handheld.Session(), 2u);
}

TEST(LinkMachine, ReceivesEightFramesInFlightInOrder) {
    // A Series 5 sender with a window of 8 against a receiver that acks each frame.
    LinkConfig sender = Handheld(Variant::Series5);
    sender.sendWindow = 8;
    Line line(Desktop(), sender);
    line.desktop.Start(0);
    line.Settle();
    for (int i = 0; i < 8; ++i) line.handheld.Send(Bytes{static_cast<uint8>(i)}, line.now);
    Bytes burst = line.handheld.TakeOutput();
    line.desktop.Receive(burst.data(), burst.size(), line.now);
    std::deque<Bytes> got = line.desktop.TakeReceived();
    ASSERT_EQ(got.size(), 8u);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(got[i], Bytes{static_cast<uint8>(i)});
    line.Settle();
    EXPECT_EQ(line.handheld.Pending(), 0u);
}

TEST(LinkMachine, LargerSendWindowOnlyWhenAskedAndOnlyOnSeries5) {
    Line one(Desktop(1), Handheld(Variant::Series5));
    Line four(Desktop(4), Handheld(Variant::Series5));
    Line series3(Desktop(4), Handheld(Variant::Series3));
    for (Line* line : {&one, &four, &series3}) {
        line->desktop.Start(0);
        line->Settle();
        for (int i = 0; i < 6; ++i) line->desktop.Send(Bytes{static_cast<uint8>(i)}, 0);
    }
    EXPECT_EQ(one.desktop.Stats().dataOut, 1u);
    EXPECT_EQ(four.desktop.Stats().dataOut, 4u);
    EXPECT_EQ(series3.desktop.Stats().dataOut, 1u);
    four.Settle();
    EXPECT_EQ(four.handheld.TakeReceived().size(), 6u);
}

TEST(LinkMachine, InactivityTakesTheLinkDownOnlyWhenSwitchedOn) {
    LinkConfig watching = Desktop();
    watching.inactivity = kInactivityTimeout;
    Line line(watching, Handheld(Variant::Series3));
    Line quiet(Desktop(), Handheld(Variant::Series3));
    for (Line* l : {&line, &quiet}) {
        l->desktop.Start(0);
        l->Settle();
        l->Wait(kInactivityTimeout + 1);
    }
    EXPECT_EQ(line.desktop.State(), LinkState::Down);
    EXPECT_EQ(line.desktop.Reason(), DownReason::Inactive);
    EXPECT_EQ(quiet.desktop.State(), LinkState::Up);
}

TEST(LinkMachine, ConnectWhileUpResetsTheHandheldsSession) {
    Line line(Desktop(), Handheld(Variant::Series3));
    line.desktop.Start(0);
    line.Settle();
    LinkMachine second(Desktop());
    second.Start(0);
    Bytes req = second.TakeOutput();
    line.handheld.Receive(req.data(), req.size(), 0);
    EXPECT_EQ(line.handheld.Session(), 2u);
    EXPECT_EQ(line.handheld.State(), LinkState::Up);
}

}  // namespace
}  // namespace wire
