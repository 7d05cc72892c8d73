// Two line endpoints, a desktop and a handheld, over a pseudo-terminal pair.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "link/LineEndpoint.h"

namespace {

using namespace wire;
using namespace std::chrono_literals;

bool WaitFor(const std::function<bool()>& condition) {
    auto end = std::chrono::steady_clock::now() + 30s;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

TEST(LineEndpoint, AckLeavesBeforeASlowConsumerIsDone) {
    int master, slave;
    termios raw;
    cfmakeraw(&raw);
    ASSERT_EQ(openpty(&master, &slave, nullptr, &raw, nullptr), 0);
    fcntl(master, F_SETFL, O_NONBLOCK);
    fcntl(slave, F_SETFL, O_NONBLOCK);
    // The handheld's consumer takes far longer than the desktop's retransmit time; the ack
    // of the frame it is busy with must already be on its way.
    constexpr bigtime_t kResend = 150000;
    std::atomic<int> messages{0};
    std::unique_ptr<LineEndpoint> handheld;
    EndpointOptions ho;
    ho.link.role = Role::Handheld;
    ho.link.family = Variant::Series5;
    ho.link.magic = 0x1234567;
    EndpointCallbacks hc;
    hc.event = [&](const ChannelEvent& e) {
        if (e.kind == ChannelEvent::Kind::ConnectAsked) handheld->Answer(e.remote, 5);
        if (e.kind == ChannelEvent::Kind::Message && e.channel == 5) {
            std::this_thread::sleep_for(std::chrono::microseconds(kResend * 4));
            ++messages;
        }
    };
    handheld = std::make_unique<LineEndpoint>(master, ho, hc);
    handheld->Start();

    EndpointOptions dopt;
    dopt.link.role = Role::Desktop;
    dopt.link.retransmitAfter = kResend;
    std::atomic<int> answered{-1};
    EndpointCallbacks dc;
    dc.event = [&](const ChannelEvent& e) {
        if (e.kind == ChannelEvent::Kind::ConnectAnswered) answered = e.channel;
    };
    LineEndpoint desktop(slave, dopt, dc);
    desktop.Start();
    desktop.Open(115200);
    ASSERT_TRUE(WaitFor([&] { return desktop.State() == LinkState::Up; }));
    int channel = -1;
    ASSERT_TRUE(WaitFor([&] { return (channel = desktop.Connect("SLOW.*")) >= 0; }));
    ASSERT_TRUE(WaitFor([&] { return answered.load() == channel; }));

    // The session's own start (info, LINK connects) settles first.
    std::this_thread::sleep_for(std::chrono::microseconds(kResend));
    uint64 before = desktop.Stats().retransmissions;
    // One frame: a request whose server then works for a while before it answers.
    uint8 message[] = {1, 2, 3};
    ASSERT_TRUE(desktop.SendMessage(static_cast<uint8>(channel), message, sizeof(message)));
    ASSERT_TRUE(WaitFor([&] { return messages.load() == 1; }));
    EXPECT_EQ(desktop.Stats().retransmissions, before);
    EXPECT_EQ(handheld->Stats().duplicates, 0u);

    desktop.Stop();
    handheld->Stop();
    close(master);
    close(slave);
}

}  // namespace
