// The channel layer: two ends passing payloads directly (the link below is tested apart).
#include <gtest/gtest.h>

#include "link/ChannelLayer.h"

namespace wire {
namespace {

struct Pair {
    ChannelLayer desktop{Role::Desktop, kSeries5Channels};
    ChannelLayer handheld{Role::Handheld, kSeries5Channels};
    std::vector<ChannelEvent> desktopEvents, handheldEvents;
    std::vector<Bytes> desktopSent;

    void Settle() {
        for (int round = 0; round < 1000; ++round) {
            bool moved = false;
            while (auto p = desktop.NextPayload()) {
                desktopSent.push_back(*p);
                handheld.Receive(p->data(), p->size());
                moved = true;
            }
            while (auto p = handheld.NextPayload()) {
                desktop.Receive(p->data(), p->size());
                moved = true;
            }
            for (auto& e : desktop.TakeEvents()) desktopEvents.push_back(e);
            for (auto& e : handheld.TakeEvents()) {
                if (e.kind == ChannelEvent::Kind::ConnectAsked)
                    handheld.Answer(e.remote, e.name == "SYS$RFSV.*" ? 7 : 0);
                handheldEvents.push_back(e);
            }
            if (!moved) return;
        }
    }

    // Both ends begun, the desktop's channel to the file service connected: its number.
    int BeginAndConnectFileService() {
        desktop.Begin(2, 1);
        handheld.Begin(2, 2);
        int channel = desktop.Connect("SYS$RFSV.*");
        Settle();
        return channel;
    }
};

TEST(NcpCodec, ControlFramesHaveTheirDocumentedBytes) {
    EXPECT_EQ(NcpInfo(2, 0), (Bytes{0, 0, 6, 2, 0, 0, 0, 0}));
    EXPECT_EQ(NcpInfo(0x10, 0x04030201), (Bytes{0, 0, 6, 0x10, 1, 2, 3, 4}));
    EXPECT_EQ(NcpConnect(1, "LINK.*"), (Bytes{0, 1, 3, 'L', 'I', 'N', 'K', '.', '*', 0}));
    EXPECT_EQ(NcpConnectResponse(1, 9, 0), (Bytes{0, 1, 4, 9, 0}));
    EXPECT_EQ(NcpConnectResponse(0, 9, kConnectNoServer), (Bytes{0, 0, 4, 9, 0xDF}));
    EXPECT_EQ(NcpConnectionEnded(5), (Bytes{0, 5, 5}));
    EXPECT_EQ(NcpDisconnect(3, 5), (Bytes{0, 3, 7, 5}));
    EXPECT_EQ(NcpFlow(4, false), (Bytes{0, 4, 1}));
    EXPECT_EQ(NcpFlow(4, true), (Bytes{0, 4, 2}));
    EXPECT_EQ(NcpEndOfChannels(0), (Bytes{0, 0, 8}));
    // A name too long for the 16 bytes is cut, NUL kept.
    EXPECT_EQ(NcpConnect(2, std::string(40, 'A')).size(), 3 + kMaxServerNameSize);
    EXPECT_FALSE(DecodeNcp(Bytes{0, 1}.data(), 2).has_value());
}

TEST(ChannelLayer, BeginSendsInfoThenLinkConnectAndAnswersTheOtherEndsLink) {
    Pair pair;
    pair.desktop.Begin(kInfoSeries5Early, 0xABCD);
    pair.handheld.Begin(kInfoSeries5, 0x1234);
    pair.Settle();
    ASSERT_GE(pair.desktopSent.size(), 2u);
    EXPECT_EQ(pair.desktopSent[0], NcpInfo(6, 0xABCD));
    EXPECT_EQ(pair.desktopSent[1], NcpConnect(1, "LINK.*"));
    // The desktop answered the handheld's LINK connect with our channel 1.
    EXPECT_NE(
        std::find(pair.desktopSent.begin(), pair.desktopSent.end(), NcpConnectResponse(1, 1, 0)),
        pair.desktopSent.end());
    EXPECT_EQ(pair.desktop.InfoReceived(), std::optional<uint8>(kInfoSeries5));
    EXPECT_EQ(pair.handheld.InfoReceived(), std::optional<uint8>(6));
}

TEST(ChannelLayer, ConnectsNamedServersAndRefusesUnknownOnes) {
    Pair pair;
    pair.desktop.Begin(2, 1);
    pair.handheld.Begin(2, 2);
    int rfsv = pair.desktop.Connect("SYS$RFSV.*");
    int other = pair.desktop.Connect("NOPE.*");
    ASSERT_GT(rfsv, 1);
    ASSERT_GT(other, 1);
    pair.Settle();
    int answered = 0;
    for (const ChannelEvent& e : pair.desktopEvents) {
        if (e.kind != ChannelEvent::Kind::ConnectAnswered) continue;
        ++answered;
        if (e.channel == rfsv) {
            EXPECT_EQ(e.status, kConnectOk);
            EXPECT_EQ(e.remote, 7);
        } else {
            EXPECT_EQ(e.channel, other);
            EXPECT_EQ(e.status, kConnectNoServer);
        }
    }
    EXPECT_EQ(answered, 2);
    EXPECT_TRUE(pair.desktop.IsOpen(static_cast<uint8>(rfsv)));
    EXPECT_FALSE(pair.desktop.IsOpen(static_cast<uint8>(other)));
}

TEST(ChannelLayer, DesktopRefusesTheHandheldsConnectsToOtherServers) {
    ChannelLayer desktop(Role::Desktop, kSeries3Channels);
    Bytes connect = NcpConnect(3, "SYS$WPRT.*");
    desktop.Receive(connect.data(), connect.size());
    EXPECT_EQ(desktop.NextPayload(), NcpConnectResponse(0, 3, kConnectNoServer));
}

TEST(ChannelLayer, LongMessagesAreCutIntoPartsAndJoinedAgain) {
    Pair pair;
    int channel = pair.BeginAndConnectFileService();
    Bytes message(1000);
    for (size_t i = 0; i < message.size(); ++i) message[i] = static_cast<uint8>(i * 7);
    ASSERT_TRUE(
        pair.desktop.SendMessage(static_cast<uint8>(channel), message.data(), message.size()));
    size_t before = pair.desktopSent.size();
    pair.Settle();
    // 1000 bytes: 297 + 297 + 297 + 109.
    ASSERT_EQ(pair.desktopSent.size() - before, 4u);
    EXPECT_EQ(pair.desktopSent[before][2], kDataMore);
    EXPECT_EQ(pair.desktopSent.back()[2], kDataLast);
    for (size_t i = before; i < pair.desktopSent.size(); ++i)
        EXPECT_LE(pair.desktopSent[i].size(), kMaxFrameData);
    const ChannelEvent* got = nullptr;
    for (const ChannelEvent& e : pair.handheldEvents)
        if (e.kind == ChannelEvent::Kind::Message) got = &e;
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(got->channel, 7);
    EXPECT_EQ(got->bytes, message);
    // And an empty message is one empty last part.
    ASSERT_TRUE(pair.desktop.SendMessage(static_cast<uint8>(channel), nullptr, 0));
    EXPECT_EQ(pair.desktop.NextPayload(), (Bytes{7, static_cast<uint8>(channel), kDataLast}));
}

TEST(ChannelLayer, XoffHoldsDataButNotControlUntilXon) {
    Pair pair;
    int channel = pair.BeginAndConnectFileService();
    Bytes off = NcpFlow(7, false);
    pair.desktop.Receive(off.data(), off.size());
    uint8 byte = 1;
    pair.desktop.SendMessage(static_cast<uint8>(channel), &byte, 1);
    int other = pair.desktop.Connect("X.*");
    EXPECT_EQ(pair.desktop.NextPayload(), NcpConnect(static_cast<uint8>(other), "X.*"));
    EXPECT_FALSE(pair.desktop.NextPayload().has_value());
    Bytes on = NcpFlow(7, true);
    pair.desktop.Receive(on.data(), on.size());
    EXPECT_EQ(pair.desktop.NextPayload(), (Bytes{7, static_cast<uint8>(channel), kDataLast, 1}));
}

TEST(ChannelLayer, CleanEndDisconnectsOursEndsTheirsThenEndOfChannels) {
    Pair pair;
    int channel = pair.BeginAndConnectFileService();
    pair.desktopSent.clear();
    pair.desktop.End();
    std::vector<Bytes> out;
    while (auto p = pair.desktop.NextPayload()) out.push_back(*p);
    EXPECT_NE(std::find(out.begin(), out.end(), NcpDisconnect(static_cast<uint8>(channel), 7)),
              out.end());
    EXPECT_EQ(out.back(), NcpEndOfChannels(0));
    EXPECT_EQ(pair.desktop.Connect("LATE.*"), -1);
    // The handheld's side of the connection is gone too.
    for (const Bytes& p : out) pair.handheld.Receive(p.data(), p.size());
    EXPECT_FALSE(pair.handheld.IsOpen(7));
}

TEST(ChannelLayer, UntrustedControlFramesAreBoundsChecked) {
    ChannelLayer layer(Role::Desktop, kSeries3Channels);
    const Bytes cases[] = {{0, 0, 6, 2}, {0, 1, 4}, {0, 1, 4, 3}, {0, 2, 7},
                           {0, 0, 99},   {0, 2, 3}, {5, 1, 1},    {1, 1, 9, 1}};
    for (const Bytes& c : cases) layer.Receive(c.data(), c.size());
    EXPECT_FALSE(layer.InfoReceived().has_value());
    // The nameless connect is refused, nothing else answered.
    EXPECT_EQ(layer.NextPayload(), NcpConnectResponse(0, 2, kConnectNoServer));
    EXPECT_FALSE(layer.NextPayload().has_value());
}

TEST(ChannelLayer, SeriesThreeHasOnlyEightChannels) {
    ChannelLayer layer(Role::Desktop, kSeries3Channels);
    layer.Begin(2, 1);
    int opened = 0;
    while (layer.Connect("S.*") >= 0) ++opened;
    EXPECT_EQ(opened, 6);  // 2..7: 0 is control, 1 is LINK
}

}  // namespace
}  // namespace wire
