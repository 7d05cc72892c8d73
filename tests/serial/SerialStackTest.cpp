// vantrel's serial link against the simulated handheld over a pseudo-terminal: connect for
// both families, speed search, files through corrupted frames, a cut line, an echoing line.
#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "DeviceTestSupport.h"
#include "RawChannel.h"
#include "SerialFixture.h"
#include "platform/HostProtocol.h"

namespace {

using devtest::Payload;
using devtest::Status;
using handheld::Bytes;
using vantrel::RawChannel;

constexpr bigtime_t kUpTimeout = 60000000;  // a full speed search on a busy sanitizer build
constexpr bigtime_t kAnswer = 20000000;

class SerialStack : public SerialFixture {
public:
    // The handheld at `baud`, the line unlimited unless `bytesPerSecond` says otherwise.
    void Start(handheld::Family family, uint32 baud, uint32 hostBaud = 0, int64 bytesPerSecond = 0,
               std::vector<wire::LineFault> deviceFaults = {},
               std::vector<wire::LineFault> hostFaults = {}) {
        handheld::LineHandheldOptions device;
        device.device.family = family;
        device.device.drives.push_back(devtest::Drive('M', "INTERNAL", folder.Path()));
        device.baud = baud;
        device.bytesPerSecond = bytesPerSecond;
        device.faults = std::move(deviceFaults);
        device.retransmitAfter = retransmitAfter;
        vantrel::HostOptions options;
        options.traceInMemory = true;
        vantrel::SerialLinkOptions serial;
        serial.baud = hostBaud;
        serial.faults = std::move(hostFaults);
        serial.modemLines = lines;
        serial.retransmitAfter = retransmitAfter;
        StartLinked(std::move(device), options, std::move(serial));
    }

    // Starts a handheld of `family` at `baud` (the host's too), waits for the link, which must
    // tell the family, and connects `rfsv` to the file service.
    void ConnectFileService(handheld::Family family, uint32 baud, RawChannel& rfsv) {
        ASSERT_NO_FATAL_FAILURE(Start(family, baud, baud));
        ASSERT_TRUE(link->WaitUp(kUpTimeout));
        EXPECT_EQ(host->FamilyVersion(), family == handheld::Family::Series3 ? 3 : 5);
        ASSERT_EQ(rfsv.Connect("SYS$RFSV", kAnswer), B_OK);
    }

    int OpenFile(RawChannel& rfsv, uint16 mode, const std::string& path) {
        Bytes reply;
        if (rfsv.Transact(Payload().Word(mode).Str(path).Packet(FOPEN), reply, kAnswer) != B_OK)
            return -1000;
        if (Status(reply) != 0) return Status(reply) - 1000;
        return devtest::Word(reply, 6);
    }

    devtest::TempFolder folder;
    bigtime_t retransmitAfter = 0;  // both ends; 0: the timer for the speed
    // The port's modem lines when a test pulls the cable (null: the pty's own, which have none).
    std::shared_ptr<vantrel::ModemLines> lines;
};

TEST_F(SerialStack, Series3ConnectsAndServesTheFileService) {
    folder.Write("A.TXT", "hello");
    RawChannel rfsv;
    ASSERT_NO_FATAL_FAILURE(ConnectFileService(handheld::Family::Series3, 19200, rfsv));
    Bytes reply;
    ASSERT_EQ(rfsv.Transact(Payload().Str("M:\\A.TXT").Packet(FINFO), reply, kAnswer), B_OK);
    ASSERT_EQ(reply.size(), 22u);
    EXPECT_EQ(Status(reply), 0);
    EXPECT_EQ(devtest::Long(reply, 10), 5u);
    // A server the handheld does not have: the connect gets no answer, as in the simulation.
    RawChannel none;
    EXPECT_EQ(none.Connect("NOSUCH", 3000000), B_TIMED_OUT);
    // The line-level trace saw the connect and data frames.
    size_t frames = host->Trace().CountEvents(handheld::TraceEvent::Frame);
    EXPECT_GT(frames, 4u);
}

TEST_F(SerialStack, Series5ConnectsAndTheFileServiceSpeaksItsFraming) {
    RawChannel rfsv;
    ASSERT_NO_FATAL_FAILURE(ConnectFileService(handheld::Family::Series5, 115200, rfsv));
    Bytes reply;
    Bytes driveList{epoc::kDriveList, 0, 7, 0};
    ASSERT_EQ(rfsv.Transact(driveList, reply, kAnswer), B_OK);
    ASSERT_EQ(reply.size(), 8u + epoc::kDriveCount);
    EXPECT_EQ(devtest::Word(reply, 0), epoc::kResponseCode);
    EXPECT_EQ(devtest::Word(reply, 2), 7u);
    EXPECT_EQ(reply[8 + ('M' - 'A')], 1);
}

TEST_F(SerialStack, SpeedSearchFindsTheHandheldsSpeed) {
    for (uint32 baud : {19200u, 115200u}) {
        SCOPED_TRACE(baud);
        Start(handheld::Family::Series3, baud);
        ASSERT_TRUE(link->WaitUp(kUpTimeout));
        EXPECT_EQ(link->Speed(), baud);
        TearDown();
    }
}

TEST_F(SerialStack, ServerStartedThroughTheLinkServer) {
    Start(handheld::Family::Series3, 115200, 115200);
    ASSERT_TRUE(link->WaitUp(kUpTimeout));
    // ECHO runs only once LINK's register asked for it: the host does that by itself.
    RawChannel echo;
    ASSERT_EQ(echo.Connect("ECHO", kAnswer), B_OK);
    Bytes reply;
    ASSERT_EQ(echo.Transact(Bytes{1, 2, 3}, reply, kAnswer), B_OK);
    EXPECT_EQ(reply, (Bytes{1, 2, 3}));
}

// Writes then reads back `size` bytes through the file service; frames are corrupted both
// ways by the faults given to Start.
void CopyBothWays(SerialStack& test, RawChannel& rfsv, size_t size) {
    std::string content(size, 0);
    for (size_t i = 0; i < size; ++i) content[i] = static_cast<char>((i * 131 + 7) & 0xFF);
    int h = test.OpenFile(rfsv, RFSV_OPEN_REPLACE | RFSV_OPEN_UPDATE, "M:\\BIG.BIN");
    ASSERT_GE(h, 0);
    constexpr size_t kChunk = 512;
    for (size_t at = 0; at < size; at += kChunk) {
        size_t n = std::min(kChunk, size - at);
        Bytes reply;
        ASSERT_EQ(rfsv.Transact(Payload()
                                    .Word(static_cast<uint16>(h))
                                    .Raw(Bytes(content.begin() + static_cast<long>(at),
                                               content.begin() + static_cast<long>(at + n)))
                                    .Packet(FWRITE),
                                reply, kAnswer),
                  B_OK);
        ASSERT_EQ(Status(reply), 0);
    }
    Bytes reply;
    ASSERT_EQ(rfsv.Transact(Payload().Word(static_cast<uint16>(h)).Packet(FCLOSE), reply, kAnswer),
              B_OK);
    EXPECT_EQ(test.folder.Read("BIG.BIN"), content);

    h = test.OpenFile(rfsv, 0x0200, "M:\\BIG.BIN");
    ASSERT_GE(h, 0);
    std::string back;
    for (;;) {
        ASSERT_EQ(rfsv.Transact(Payload()
                                    .Word(static_cast<uint16>(h))
                                    .Word(static_cast<uint16>(RFSV_MAX_READ_CHUNK))
                                    .Packet(FREAD),
                                reply, kAnswer),
                  B_OK);
        if (Status(reply) == RFSV_END_OF_FILE) break;
        ASSERT_EQ(Status(reply), 0);
        back.append(reply.begin() + 6, reply.end());
    }
    EXPECT_EQ(back, content);
}

TEST_F(SerialStack, FileCopiedBothWaysThroughCorruptedFramesArrivesIntact) {
    // 2 % of the frames either way have a bit flipped.
    wire::LineFault corrupt{wire::LineFault::Kind::Corrupt, 1, 1, 2};
    // Unthrottled, a frame and its ack take well under a millisecond: a tenth of a second
    // before sending again (rather than a third) still rides out a stall in eight tries.
    retransmitAfter = 100000;
    Start(handheld::Family::Series3, 115200, 115200, 0, {corrupt}, {corrupt});
    ASSERT_TRUE(link->WaitUp(kUpTimeout));
    RawChannel rfsv;
    ASSERT_EQ(rfsv.Connect("SYS$RFSV", kAnswer), B_OK);
    CopyBothWays(*this, rfsv, 64 * 1024);
    wire::LinkStats stats = link->Stats();
    EXPECT_GT(stats.retransmissions, 0u);
    EXPECT_GT(stats.badCrcs, 0u);
    EXPECT_GT(handheld->Endpoint().Stats().retransmissions, 0u);
    RecordProperty("host_retransmissions", static_cast<int>(stats.retransmissions));
    RecordProperty("handheld_retransmissions",
                   static_cast<int>(handheld->Endpoint().Stats().retransmissions));
    printf("retransmissions: host %llu, handheld %llu; bad CRCs heard: host %llu, handheld %llu\n",
           static_cast<unsigned long long>(stats.retransmissions),
           static_cast<unsigned long long>(handheld->Endpoint().Stats().retransmissions),
           static_cast<unsigned long long>(stats.badCrcs),
           static_cast<unsigned long long>(handheld->Endpoint().Stats().badCrcs));
}

TEST_F(SerialStack, CutLineTakesTheLinkDownAndTheNextConnectBringsItBack) {
    RawChannel rfsv;
    ASSERT_NO_FATAL_FAILURE(ConnectFileService(handheld::Family::Series3, 115200, rfsv));
    port_id before = host->RequestPort();
    ASSERT_GE(before, 0);

    handheld->SetCut(true);
    // Only traffic notices a cut: a request that will never be answered.
    ASSERT_EQ(rfsv.Send(Payload().Str("M:\\X").Packet(FINFO)), B_OK);
    ASSERT_TRUE(host->WaitForLinkDown(kUpTimeout));
    EXPECT_EQ(link->LastDrop(), "no answer after 8 tries");
    Bytes reply;
    EXPECT_EQ(rfsv.Receive(reply, 1000), B_BAD_PORT_ID);

    handheld->SetCut(false);
    ASSERT_TRUE(link->WaitUp(kUpTimeout));
    EXPECT_EQ(link->LinksMade(), 2u);
    RawChannel again;
    ASSERT_EQ(again.Connect("SYS$RFSV", kAnswer), B_OK);
}

// DSR as a cable shows it: a pty has no modem lines, so the test holds its own.
class Cable : public vantrel::ModemLines {
public:
    bool Read(int, int& bits) override {
        bits = TIOCM_CTS | (dsr.load() ? TIOCM_DSR : 0);
        return true;
    }
    std::atomic<bool> dsr{true};
};

TEST_F(SerialStack, DsrWatchedForAPulledCable) {
    folder.Write("A.TXT", "hello");
    auto cable = std::make_shared<Cable>();
    lines = cable;
    RawChannel rfsv;
    ASSERT_NO_FATAL_FAILURE(ConnectFileService(handheld::Family::Series3, 115200, rfsv));

    // Pulled: the link goes down on DSR alone, with no request outstanding to notice it.
    cable->dsr.store(false);
    ASSERT_TRUE(host->WaitForLinkDown(kUpTimeout));
    EXPECT_EQ(link->LastDrop(), "the handheld is gone (DSR low)");
    Bytes reply;
    EXPECT_EQ(rfsv.Receive(reply, 1000), B_BAD_PORT_ID);
    // While DSR stays low nothing is tried: the handheld hears no new connect.
    EXPECT_FALSE(link->WaitUp(500000));
    EXPECT_EQ(handheld->LinksUp(), 1u);

    // Plugged in again: a fresh link, and the file service answers on it.
    cable->dsr.store(true);
    ASSERT_TRUE(link->WaitUp(kUpTimeout));
    EXPECT_EQ(link->LinksMade(), 2u);
    RawChannel again;
    ASSERT_EQ(again.Connect("SYS$RFSV", kAnswer), B_OK);
    ASSERT_EQ(again.Transact(Payload().Str("M:\\A.TXT").Packet(FINFO), reply, kAnswer), B_OK);
    EXPECT_EQ(Status(reply), 0);
    EXPECT_EQ(handheld->LinksUp(), 2u);
}

TEST_F(SerialStack, ACableThatNeverRaisesDsrStillConnects) {
    // Some cables and adapters do not carry DSR at all: low from the start is no pulled cable.
    auto cable = std::make_shared<Cable>();
    cable->dsr.store(false);
    lines = cable;
    Start(handheld::Family::Series3, 115200, 115200);
    ASSERT_TRUE(link->WaitUp(kUpTimeout));
    RawChannel rfsv;
    EXPECT_EQ(rfsv.Connect("SYS$RFSV", kAnswer), B_OK);
}

TEST_F(SerialStack, HandheldDiscTakesTheLinkDown) {
    Start(handheld::Family::Series5, 115200, 115200);
    ASSERT_TRUE(link->WaitUp(kUpTimeout));
    handheld->Endpoint().Close();
    ASSERT_TRUE(host->WaitForLinkDown(kUpTimeout));
    EXPECT_EQ(link->LastDrop(), wire::DescribeDownReason(wire::DownReason::Disc));
    // The handheld listens again and the host finds it.
    ASSERT_TRUE(link->WaitUp(kUpTimeout));
}

TEST_F(SerialStack, LineThatEchoesIsRefused) {
    int master, slave;
    char name[128];
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    std::atomic<bool> stop{false};
    std::thread echo([&] {
        uint8 buffer[256];
        fcntl(master, F_SETFL, O_NONBLOCK);
        while (!stop.load()) {
            ssize_t n = read(master, buffer, sizeof(buffer));
            if (n > 0) {
                ssize_t ignored = write(master, buffer, static_cast<size_t>(n));
                (void)ignored;
            } else {
                usleep(1000);
            }
        }
    });
    vantrel::SerialLinkOptions serial;
    serial.port = name;
    serial.baud = 115200;
    StartLink({}, serial);
    EXPECT_FALSE(link->WaitUp(3000000));
    EXPECT_GT(link->EchoesRefused(), 0u);
    link.reset();
    stop.store(true);
    echo.join();
    close(master);
    close(slave);
}

}  // namespace
