// send_command against the scripted device: framing, time-outs, late replies, a cut link.
#include <cstdlib>

#include "WireFixture.h"

namespace {

using Transport = WireTest;

Bytes Send(volume* vol, const Bytes& request, status_t* transport = nullptr) {
    int32 size = 0;
    status_t status = B_OK;
    uint8* reply = send_command(vol, request.data(), &size, &status);
    if (transport != nullptr) *transport = status;
    Bytes out;
    if (reply != nullptr) out.assign(reply, reply + size);
    free(reply);
    return out;
}

TEST_F(Transport, ARequestTravelsOnTheChannelAndItsReplyComesBack) {
    Bytes request = Packet(FINFO, PathBytes("M:\\ABC"));
    ASSERT_EQ(request, (Bytes{0x16, 0, 0x07, 0, 'M', ':', '\\', 'A', 'B', 'C', 0}));
    device->Expect(request, Reply(0, Entry(0, 5, 6)));
    EXPECT_EQ(Send(vol, request), Reply(0, Entry(0, 5, 6)));
    // A zero length field sends the four header bytes alone.
    device->Expect(Packet(FDEVICEINFO, {}), Reply(-1));
    EXPECT_EQ(Send(vol, Packet(FDEVICEINFO, {})), Reply(-1));
}

TEST_F(Transport, ATimeOutLeavesTheVolumeConnected) {
    device->ExpectSilence(Packet(FINFO, PathBytes("M:\\A")));
    status_t transport;
    EXPECT_TRUE(Send(vol, Packet(FINFO, PathBytes("M:\\A")), &transport).empty());
    EXPECT_EQ(transport, B_TIMED_OUT);
    EXPECT_EQ(vol->connected.load(), 1);
    device->Expect(Packet(FINFO, PathBytes("M:\\B")), Reply(0, Entry(0, 1, 1)));
    EXPECT_EQ(Send(vol, Packet(FINFO, PathBytes("M:\\B"))), Reply(0, Entry(0, 1, 1)));
}

TEST_F(Transport, ALateReplyIsNeverTakenForTheNextRequest) {
    // The reply to A comes after A timed out, while B is being sent: in order, as a serial
    // device answers. B must get B's reply.
    device->Expect(Packet(FINFO, PathBytes("M:\\A")), Reply(0, Entry(0, 111, 0)), 300000);
    device->Expect(Packet(FINFO, PathBytes("M:\\B")), Reply(0, Entry(0, 222, 0)));
    EXPECT_TRUE(Send(vol, Packet(FINFO, PathBytes("M:\\A"))).empty());
    EXPECT_EQ(Send(vol, Packet(FINFO, PathBytes("M:\\B"))), Reply(0, Entry(0, 222, 0)));

    // Nor when it comes later than two reply times (2.5 here).
    device->Expect(Packet(FINFO, PathBytes("M:\\E")), Reply(0, Entry(0, 555, 0)), 500000);
    device->Expect(Packet(FINFO, PathBytes("M:\\F")), Reply(0, Entry(0, 666, 0)));
    EXPECT_TRUE(Send(vol, Packet(FINFO, PathBytes("M:\\E"))).empty());
    EXPECT_EQ(Send(vol, Packet(FINFO, PathBytes("M:\\F"))), Reply(0, Entry(0, 666, 0)));

    // A reply already waiting on the port when the next request goes out is dropped too.
    device->Expect(Packet(FINFO, PathBytes("M:\\C")), Reply(0, Entry(0, 333, 0)), 250000);
    EXPECT_TRUE(Send(vol, Packet(FINFO, PathBytes("M:\\C"))).empty());
    snooze(300000);
    device->Expect(Packet(FINFO, PathBytes("M:\\D")), Reply(0, Entry(0, 444, 0)));
    EXPECT_EQ(Send(vol, Packet(FINFO, PathBytes("M:\\D"))), Reply(0, Entry(0, 444, 0)));
}

TEST_F(Transport, AReplyThatNeverComesIsGivenUpAfterOneMoreWait) {
    device->ExpectSilence(Packet(FINFO, PathBytes("M:\\A")));
    EXPECT_TRUE(Send(vol, Packet(FINFO, PathBytes("M:\\A"))).empty());
    device->Expect(Packet(FINFO, PathBytes("M:\\B")), Reply(0, Entry(0, 2, 0)));
    EXPECT_EQ(Send(vol, Packet(FINFO, PathBytes("M:\\B"))), Reply(0, Entry(0, 2, 0)));
    device->Expect(Packet(FINFO, PathBytes("M:\\C")), Reply(0, Entry(0, 3, 0)));
    EXPECT_EQ(Send(vol, Packet(FINFO, PathBytes("M:\\C"))), Reply(0, Entry(0, 3, 0)));
}

TEST_F(Transport, ACutLinkDisconnectsForGoodAndLaterRequestsSendNothing) {
    device->CutLink();
    status_t transport;
    EXPECT_TRUE(Send(vol, Packet(FINFO, PathBytes("M:\\A")), &transport).empty());
    EXPECT_EQ(transport, B_BAD_PORT_ID);
    EXPECT_EQ(vol->connected.load(), 0);
    // The transport semaphore was given back.
    EXPECT_EQ(acquire_sem_etc(device->Semaphore(), 1, B_TIMEOUT, 0), B_OK);
    release_sem(device->Semaphore());

    bigtime_t start = system_time();
    uint8 header[16];
    EXPECT_EQ(psion_finfo(vol, "M:\\A", header), B_IO_ERROR);
    EXPECT_EQ(psion_mkdir(vol, "M:\\A"), B_IO_ERROR);
    EXPECT_EQ(psion_rename(vol, "M:\\A", "M:\\B"), B_IO_ERROR);
    EXPECT_EQ(psion_delete(vol, "M:\\A"), B_IO_ERROR);
    EXPECT_EQ(psion_sfdate(vol, "M:\\A", 1), B_IO_ERROR);
    EXPECT_EQ(psion_open(vol, 0x0200, "M:\\A"), B_ENTRY_NOT_FOUND);
    EXPECT_LT(system_time() - start, 100000);
    EXPECT_EQ(device->RequestCount(), 0u);
}

TEST_F(Transport, ConcurrentRequestsNeverInterleave) {
    // Each request is answered with its own path back; any mix-up shows as a wrong answer.
    device->SetResponder([](const Bytes& request) -> std::optional<Bytes> {
        return Reply(0, Bytes(request.begin() + 4, request.end()));
    });
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 4; t++) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 50; i++) {
                std::string path = "M:\\T" + std::to_string(t) + "_" + std::to_string(i);
                Bytes reply = Send(vol, Packet(FINFO, PathBytes(path)));
                if (reply != Reply(0, PathBytes(path))) wrong++;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(device->RequestCount(), 200u);
}

}  // namespace
