// Throughput of the serial link over a pseudo-terminal with the line model (baud/10 bytes a
// second each way), against the raw line rate and against the protocol's own limit with one
// frame in flight.
//
// The limit: with one frame in flight every data frame waits for its ack, so the line carries
// each frame and its ack one after the other. The time the line needs at least is therefore
// (every byte the desktop sent + every byte it heard) / line rate, counted from the frames
// that actually flowed (headers, CS, stuffing, CRC, acks); limit = payload / that time. For a
// full 300-byte frame that is 297 message bytes per 308 + 8 line bytes (Series 3), per 309 + 9
// (Series 5 family, extended sequence byte), about 0.94 of the raw rate.
//
//   Channel/*: 100 KiB as channel messages, desktop to handheld (write) or back (read); the
//              handheld's end only counts (no server work).
//   Rfsv/*:    100 KiB written and read through the Series 3 file service (FWRITE/FREAD of
//              512/511 bytes, each answered): includes the request and reply overhead.
//   Rfsv5/*:   the same through the Series 5 file service (write/read of 2048 bytes), also
//              with the desktop sending up to 4 frames before an ack (window4).
//
// Where time goes beyond the line's: lost_us_per_frame is (time - line time) per data frame
// exchanged; wake_late_us is how late this machine wakes a thread from a 1 ms sleep, measured
// just before the transfer; pty_rtt_us is a bare one-byte round trip over a pty (a wake-up at
// each end and the kernel's pty hand-over both ways), measured just after. A data frame and its
// ack pay one pty round trip plus one line-model sleep (the handheld sleeps once for the bytes
// it heard and what it answers), the file service's requests a few hops more (the host's
// ports); so a lost time near pty_rtt_us + wake_late_us is the machine's, and anything well
// beyond it is the code's.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <thread>

#include "DeviceTestSupport.h"
#include "RawChannel.h"
#include "device/LineHandheld.h"
#include "host/HostLink.h"
#include "host/SerialLink.h"
#include "host/SerialPort.h"
#include "link/LineEndpoint.h"
#include "platform/ByteAppend.h"
#include "platform/Series5Wire.h"

namespace {

constexpr size_t kPayload = 100 * 1024;

double Seconds(std::chrono::steady_clock::time_point from) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}

// CPU time of the whole process (every thread: both ends of the line and the host), seconds.
double ProcessCpu() {
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// How late this machine wakes a thread that sleeps 1 ms, in µs on average: what every hop
// of a frame (the handheld's line model sleeps, the other end's poll) pays on top of the line.
double WakeLateness() {
    // Without timer slack, as the line model's sleeps: only the machine's own lateness counts.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    constexpr int kRounds = 200;
    double late = 0;
    for (int i = 0; i < kRounds; ++i) {
        auto start = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        late += Seconds(start) - 0.001;
    }
    return late / kRounds * 1e6;
}

// How long one byte takes over a pty and one back, in µs on average, with a wake-up at each
// end: the least a data frame and its ack pay on this machine beyond the line model.
double PtyRoundTrip() {
    int master, slave;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return -1;
    termios raw;
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);
    constexpr int kRounds = 200;
    std::thread echo([&] {
        uint8 byte;
        for (int i = 0; i < kRounds; ++i) {
            pollfd in{master, POLLIN, 0};
            if (poll(&in, 1, 1000) <= 0 || read(master, &byte, 1) != 1) return;
            if (write(master, &byte, 1) != 1) return;
        }
    });
    auto start = std::chrono::steady_clock::now();
    int done = 0;
    for (uint8 byte = 0; done < kRounds; ++done, ++byte) {
        if (write(slave, &byte, 1) != 1) break;
        pollfd in{slave, POLLIN, 0};
        if (poll(&in, 1, 1000) <= 0 || read(slave, &byte, 1) != 1) break;
    }
    double seconds = Seconds(start);
    echo.join();
    close(master);
    close(slave);
    return done == kRounds ? seconds / kRounds * 1e6 : -1;
}

void Report(benchmark::State& state, double seconds, double cpu, uint32 baud,
            const wire::LinkStats& stats, double wakeLateness) {
    double rate = kPayload / seconds;
    double line = baud / 10.0;
    double lineBytes = static_cast<double>(stats.wireBytesOut + stats.wireBytesIn);
    double lineSeconds = lineBytes / line;
    double limit = kPayload / lineSeconds;
    // Every frame the desktop sends is a data frame or the ack of one it heard.
    double frames = static_cast<double>(stats.framesOut - stats.retransmissions);
    state.counters["payload_Bps"] = rate;
    state.counters["of_line_rate"] = rate / line;
    state.counters["limit_Bps"] = limit;
    state.counters["of_limit"] = rate / limit;
    state.counters["retransmits"] = static_cast<double>(stats.retransmissions);
    // Time beyond the line's, per data frame; set beside what one wake-up costs here.
    state.counters["lost_us_per_frame"] = frames > 0 ? (seconds - lineSeconds) / frames * 1e6 : 0;
    state.counters["wake_late_us"] = wakeLateness;
    state.counters["pty_rtt_us"] = PtyRoundTrip();
    // What the code itself spends per frame, every thread together, system calls included.
    state.counters["cpu_us_per_frame"] = frames > 0 ? cpu / frames * 1e6 : 0;
}

wire::LinkStats Used(const wire::LinkStats& before, const wire::LinkStats& after) {
    wire::LinkStats used;
    used.wireBytesOut = after.wireBytesOut - before.wireBytesOut;
    used.wireBytesIn = after.wireBytesIn - before.wireBytesIn;
    used.framesOut = after.framesOut - before.framesOut;
    used.framesIn = after.framesIn - before.framesIn;
    used.dataOut = after.dataOut - before.dataOut;
    used.retransmissions = after.retransmissions - before.retransmissions;
    return used;
}

// The handheld's end: accepts every connect, counts message bytes, or sends them.
struct Sink {
    std::mutex lock;
    std::condition_variable changed;
    size_t received = 0;
    uint8 channel = 0;
    uint8 remote = 0;
    bool up = false;
};

void ChannelTransfer(benchmark::State& state, wire::Variant family, uint32 baud, bool write,
                     uint32 window) {
    for (auto _ : state) {
        int master, slave;
        char name[128];
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
            state.SkipWithError("no pty");
            return;
        }
        fcntl(master, F_SETFL, O_NONBLOCK);
        Sink sink;
        wire::EndpointOptions handheldOptions;
        handheldOptions.link.role = wire::Role::Handheld;
        handheldOptions.link.family = family;
        handheldOptions.link.baud = baud;
        handheldOptions.link.magic = 0x1234567;
        handheldOptions.bytesPerSecond = baud / 10;
        std::unique_ptr<wire::LineEndpoint> handheld;
        wire::EndpointCallbacks hc;
        hc.event = [&](const wire::ChannelEvent& e) {
            if (e.kind == wire::ChannelEvent::Kind::ConnectAsked) {
                std::lock_guard<std::mutex> guard(sink.lock);
                sink.channel = 5;
                sink.remote = e.remote;
                handheld->Answer(e.remote, 5);
            } else if (e.kind == wire::ChannelEvent::Kind::Message && e.channel == 5) {
                std::lock_guard<std::mutex> guard(sink.lock);
                sink.received += e.bytes.size();
                sink.changed.notify_all();
            }
        };
        handheld = std::make_unique<wire::LineEndpoint>(master, handheldOptions, hc);
        handheld->Start();

        std::string error;
        auto port = vantrel::SerialPort::Open(name, baud, error);
        wire::EndpointOptions desktopOptions;
        desktopOptions.link.role = wire::Role::Desktop;
        desktopOptions.link.sendWindow = window;
        std::unique_ptr<wire::LineEndpoint> desktop;
        // What the desktop heard; waited for without polling, which would take the CPU the
        // two ends need.
        Sink heard;
        std::atomic<int> answered{-1};
        wire::EndpointCallbacks dc;
        dc.event = [&](const wire::ChannelEvent& e) {
            if (e.kind == wire::ChannelEvent::Kind::ConnectAnswered) answered = e.channel;
            if (e.kind == wire::ChannelEvent::Kind::Message) {
                std::lock_guard<std::mutex> guard(heard.lock);
                heard.received += e.bytes.size();
                heard.changed.notify_all();
            }
        };
        desktop = std::make_unique<wire::LineEndpoint>(port->Fd(), desktopOptions, dc);
        desktop->Start();
        desktop->Open(baud);
        while (desktop->State() != wire::LinkState::Up) usleep(1000);
        int channel = -1;
        while ((channel = desktop->Connect("BENCH.*")) < 0) usleep(1000);
        while (answered.load() != channel) usleep(1000);

        // Messages of one full part each, so every data frame is full.
        std::vector<uint8> message(wire::kMaxPartData, 0x41);
        double wake = WakeLateness();
        auto start = std::chrono::steady_clock::now();
        double cpuStart = ProcessCpu();
        wire::LinkStats before = desktop->Stats();
        for (size_t sent = 0; sent < kPayload; sent += message.size()) {
            size_t n = std::min(message.size(), kPayload - sent);
            if (write)
                desktop->SendMessage(static_cast<uint8>(channel), message.data(), n);
            else
                handheld->SendMessage(5, message.data(), n);
        }
        if (write) {
            std::unique_lock<std::mutex> lock(sink.lock);
            sink.changed.wait(lock, [&] { return sink.received >= kPayload; });
        } else {
            std::unique_lock<std::mutex> lock(heard.lock);
            heard.changed.wait(lock, [&] { return heard.received >= kPayload; });
        }
        double seconds = Seconds(start);
        double cpu = ProcessCpu() - cpuStart;
        state.SetIterationTime(seconds);
        Report(state, seconds, cpu, baud, Used(before, desktop->Stats()), wake);
        desktop.reset();
        port.reset();
        handheld.reset();
        close(master);
        close(slave);
    }
}

// A handheld of `family` behind a pty whose drive holds BIG.BIN (the payload, or empty when the
// transfer writes it), the host linked to it over the serial link, and a raw channel to its
// file service.
struct FileServiceRig {
    devtest::TempFolder folder;
    std::string content = std::string(kPayload, 'x');
    std::unique_ptr<handheld::LineHandheld> handheld;
    vantrel::HostLink host{vantrel::HostOptions()};
    std::unique_ptr<vantrel::SerialLink> link;
    vantrel::RawChannel rfsv;
    bool up = false;

    FileServiceRig(handheld::Family family, handheld::DriveSetup drive, uint32 baud, bool write,
                   uint32 window = 1) {
        folder.Write("BIG.BIN", write ? "" : content);
        handheld::LineHandheldOptions device;
        device.device.family = family;
        drive.folder = folder.Path();
        device.device.drives.push_back(drive);
        device.baud = baud;
        std::string error;
        handheld = handheld::LineHandheld::OnPty(device, error);
        host.Start();
        vantrel::SerialLinkOptions serial;
        serial.port = handheld->Path();
        serial.baud = baud;
        serial.sendWindow = window;
        serial.quiet = true;
        link = std::make_unique<vantrel::SerialLink>(host, serial);
        link->OpenPort(error);
        link->Start();
        up = link->WaitUp(60000000);
        if (up) rfsv.Connect("SYS$RFSV", 20000000);
    }

    // Times `transfer` (it moves the payload, and says whether all of it went) and reports it.
    template <typename Transfer>
    void Time(benchmark::State& state, uint32 baud, Transfer transfer) {
        double wake = WakeLateness();
        wire::LinkStats before = link->Stats();
        auto start = std::chrono::steady_clock::now();
        double cpuStart = ProcessCpu();
        bool moved = transfer();
        double seconds = Seconds(start);
        double cpu = ProcessCpu() - cpuStart;
        if (!moved) state.SkipWithError("transfer failed");
        state.SetIterationTime(seconds);
        Report(state, seconds, cpu, baud, Used(before, link->Stats()), wake);
        link->Stop();
    }
};

void RfsvTransfer(benchmark::State& state, uint32 baud, bool write) {
    for (auto _ : state) {
        FileServiceRig rig(handheld::Family::Series3, devtest::Drive('M', "INTERNAL", ""), baud,
                           write);
        if (!rig.up) {
            state.SkipWithError("no link");
            return;
        }
        handheld::Bytes reply;
        uint16 mode = write ? (RFSV_OPEN_REPLACE | RFSV_OPEN_UPDATE) : 0x0200;
        rig.rfsv.Transact(devtest::Payload().Word(mode).Str("M:\\BIG.BIN").Packet(FOPEN), reply,
                          20000000);
        uint16 h = devtest::Word(reply, 6);
        rig.Time(state, baud, [&] {
            size_t moved = 0;
            while (moved < kPayload) {
                if (write) {
                    size_t n = std::min<size_t>(512, kPayload - moved);
                    rig.rfsv.Transact(
                        devtest::Payload()
                            .Word(h)
                            .Raw(handheld::Bytes(rig.content.begin(), rig.content.begin() + n))
                            .Packet(FWRITE),
                        reply, 20000000);
                    moved += n;
                } else {
                    rig.rfsv.Transact(devtest::Payload().Word(h).Word(511).Packet(FREAD), reply,
                                      20000000);
                    if (devtest::Status(reply) != 0) break;
                    moved += reply.size() - 6;
                }
            }
            return moved >= kPayload;
        });
    }
}

// A Series 5 file service request: op, operation id, then the fields.
handheld::Bytes Epoc(uint16 op, uint16 opid, const handheld::Bytes& fields) {
    handheld::Bytes packet;
    AppendWord(packet, op);
    AppendWord(packet, opid);
    packet.insert(packet.end(), fields.begin(), fields.end());
    return packet;
}

int32 EpocStatus(const handheld::Bytes& reply) {
    if (reply.size() < 8) return -2;
    return static_cast<int32>(BytesToUlong(reply.data() + 4));
}

void Rfsv5Transfer(benchmark::State& state, uint32 baud, bool write, uint32 window) {
    using namespace epoc;
    constexpr uint32 kChunk = kMaxChunk;
    for (auto _ : state) {
        FileServiceRig rig(handheld::Family::Series5, devtest::Drive('C', "Internal", ""), baud,
                           write, window);
        if (!rig.up) {
            state.SkipWithError("no link");
            return;
        }
        uint16 opid = 1;
        handheld::Bytes open;
        AppendLong(open, write ? static_cast<uint32>(kOpenReadWrite) : 0u);
        std::string name = "C:\\BIG.BIN";
        open.push_back(static_cast<uint8>(name.size()));
        open.push_back(0);
        open.insert(open.end(), name.begin(), name.end());
        handheld::Bytes reply;
        rig.rfsv.Transact(Epoc(write ? kReplaceFile : kOpenFile, opid++, open), reply, 20000000);
        if (EpocStatus(reply) != 0 || reply.size() < 12) {
            state.SkipWithError("open failed");
            return;
        }
        uint32 h =
            reply[8] | reply[9] << 8 | reply[10] << 16 | static_cast<uint32>(reply[11]) << 24;
        rig.Time(state, baud, [&] {
            size_t moved = 0;
            while (moved < kPayload) {
                handheld::Bytes fields;
                AppendLong(fields, h);
                if (write) {
                    size_t n = std::min<size_t>(kChunk, kPayload - moved);
                    fields.insert(fields.end(), rig.content.begin(),
                                  rig.content.begin() + static_cast<long>(n));
                    rig.rfsv.Transact(Epoc(kWrite, opid++, fields), reply, 20000000);
                    if (EpocStatus(reply) != 0) break;
                    moved += n;
                } else {
                    AppendLong(fields, kChunk);
                    rig.rfsv.Transact(Epoc(kRead, opid++, fields), reply, 20000000);
                    if (EpocStatus(reply) != 0 || reply.size() <= 8) break;
                    moved += reply.size() - 8;
                }
            }
            return moved >= kPayload;
        });
    }
}

}  // namespace

// Each case moves its payload once, timed by the link's own clock.
#define TRANSFER_ONCE(...) \
    BENCHMARK_CAPTURE(__VA_ARGS__)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond)

TRANSFER_ONCE(ChannelTransfer, Series3_19200_write, wire::Variant::Series3, 19200, true, 1);
TRANSFER_ONCE(ChannelTransfer, Series3_19200_read, wire::Variant::Series3, 19200, false, 1);
TRANSFER_ONCE(ChannelTransfer, Series3_115200_write, wire::Variant::Series3, 115200, true, 1);
TRANSFER_ONCE(ChannelTransfer, Series3_115200_read, wire::Variant::Series3, 115200, false, 1);
TRANSFER_ONCE(ChannelTransfer, Series5_115200_write, wire::Variant::Series5, 115200, true, 1);
TRANSFER_ONCE(ChannelTransfer, Series5_115200_read, wire::Variant::Series5, 115200, false, 1);
TRANSFER_ONCE(ChannelTransfer, Series5_115200_write_window4, wire::Variant::Series5, 115200, true,
              4);
TRANSFER_ONCE(Rfsv5Transfer, Series5_19200_write, 19200, true, 1);
TRANSFER_ONCE(Rfsv5Transfer, Series5_19200_read, 19200, false, 1);
TRANSFER_ONCE(Rfsv5Transfer, Series5_19200_write_window4, 19200, true, 4);
TRANSFER_ONCE(Rfsv5Transfer, Series5_115200_write, 115200, true, 1);
TRANSFER_ONCE(Rfsv5Transfer, Series5_115200_read, 115200, false, 1);
TRANSFER_ONCE(Rfsv5Transfer, Series5_115200_write_window4, 115200, true, 4);
TRANSFER_ONCE(RfsvTransfer, Series3_19200_write, 19200, true);
TRANSFER_ONCE(RfsvTransfer, Series3_19200_read, 19200, false);
TRANSFER_ONCE(RfsvTransfer, Series3_115200_write, 115200, true);
TRANSFER_ONCE(RfsvTransfer, Series3_115200_read, 115200, false);

BENCHMARK_MAIN();
