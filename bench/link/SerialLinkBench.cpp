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
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

#include "DeviceTestSupport.h"
#include "device/LineHandheld.h"
#include "host/HostLink.h"
#include "host/RawChannel.h"
#include "host/SerialLink.h"
#include "host/SerialPort.h"
#include "link/LineEndpoint.h"

namespace {

constexpr size_t kPayload = 100 * 1024;

double Seconds(std::chrono::steady_clock::time_point from) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}

void Report(benchmark::State& state, double seconds, uint32 baud, const wire::LinkStats& stats) {
    double rate = kPayload / seconds;
    double line = baud / 10.0;
    double lineBytes = static_cast<double>(stats.wireBytesOut + stats.wireBytesIn);
    double limit = kPayload / (lineBytes / line);
    state.counters["payload_Bps"] = rate;
    state.counters["of_line_rate"] = rate / line;
    state.counters["limit_Bps"] = limit;
    state.counters["of_limit"] = rate / limit;
    state.counters["retransmits"] = static_cast<double>(stats.retransmissions);
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
        std::atomic<size_t> heard{0};
        std::atomic<int> answered{-1};
        wire::EndpointCallbacks dc;
        dc.event = [&](const wire::ChannelEvent& e) {
            if (e.kind == wire::ChannelEvent::Kind::ConnectAnswered) answered = e.channel;
            if (e.kind == wire::ChannelEvent::Kind::Message) heard += e.bytes.size();
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
        auto start = std::chrono::steady_clock::now();
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
            while (heard.load() < kPayload) usleep(500);
        }
        double seconds = Seconds(start);
        wire::LinkStats after = desktop->Stats();
        wire::LinkStats used;
        used.wireBytesOut = after.wireBytesOut - before.wireBytesOut;
        used.wireBytesIn = after.wireBytesIn - before.wireBytesIn;
        used.retransmissions = after.retransmissions - before.retransmissions;
        state.SetIterationTime(seconds);
        Report(state, seconds, baud, used);
        desktop.reset();
        port.reset();
        handheld.reset();
        close(master);
        close(slave);
    }
}

void RfsvTransfer(benchmark::State& state, uint32 baud, bool write) {
    for (auto _ : state) {
        devtest::TempFolder folder;
        std::string content(kPayload, 'x');
        folder.Write("BIG.BIN", write ? "" : content);
        handheld::LineHandheldOptions device;
        device.device.family = handheld::Family::Series3;
        device.device.drives.push_back(devtest::Drive('M', "INTERNAL", folder.Path()));
        device.baud = baud;
        std::string error;
        auto handheld = handheld::LineHandheld::OnPty(device, error);
        vantrel::HostOptions options;
        vantrel::HostLink host(options);
        host.Start();
        vantrel::SerialLinkOptions serial;
        serial.port = handheld->Path();
        serial.baud = baud;
        serial.quiet = true;
        vantrel::SerialLink link(host, serial);
        link.OpenPort(error);
        link.Start();
        link.WaitUp(60000000);
        vantrel::RawChannel rfsv;
        rfsv.Connect("SYS$RFSV", 20000000);
        handheld::Bytes reply;
        uint16 mode = write ? (handheld::kOpenReplace | handheld::kOpenUpdate) : 0x0200;
        rfsv.Transact(devtest::Payload().Word(mode).Str("M:\\BIG.BIN").Packet(handheld::kFopen),
                      reply, 20000000);
        uint16 h = devtest::Word(reply, 6);
        wire::LinkStats before = link.Stats();
        auto start = std::chrono::steady_clock::now();
        size_t moved = 0;
        while (moved < kPayload) {
            if (write) {
                size_t n = std::min<size_t>(512, kPayload - moved);
                rfsv.Transact(devtest::Payload()
                                  .Word(h)
                                  .Raw(handheld::Bytes(content.begin(), content.begin() + n))
                                  .Packet(handheld::kFwrite),
                              reply, 20000000);
                moved += n;
            } else {
                rfsv.Transact(devtest::Payload().Word(h).Word(511).Packet(handheld::kFread),
                              reply, 20000000);
                if (devtest::Status(reply) != 0) break;
                moved += reply.size() - 6;
            }
        }
        double seconds = Seconds(start);
        wire::LinkStats after = link.Stats();
        wire::LinkStats used;
        used.wireBytesOut = after.wireBytesOut - before.wireBytesOut;
        used.wireBytesIn = after.wireBytesIn - before.wireBytesIn;
        used.retransmissions = after.retransmissions - before.retransmissions;
        state.SetIterationTime(seconds);
        Report(state, seconds, baud, used);
        link.Stop();
    }
}

}  // namespace

BENCHMARK_CAPTURE(ChannelTransfer, Series3_19200_write, wire::Variant::Series3, 19200, true, 1)
    ->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(ChannelTransfer, Series3_19200_read, wire::Variant::Series3, 19200, false, 1)
    ->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(ChannelTransfer, Series3_115200_write, wire::Variant::Series3, 115200, true, 1)
    ->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(ChannelTransfer, Series3_115200_read, wire::Variant::Series3, 115200, false, 1)
    ->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(ChannelTransfer, Series5_115200_write, wire::Variant::Series5, 115200, true, 1)
    ->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(ChannelTransfer, Series5_115200_read, wire::Variant::Series5, 115200, false, 1)
    ->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(ChannelTransfer, Series5_115200_write_window4, wire::Variant::Series5, 115200,
                  true, 4)
    ->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(RfsvTransfer, Series3_19200_write, 19200, true)
    ->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(RfsvTransfer, Series3_19200_read, 19200, false)
    ->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(RfsvTransfer, Series3_115200_write, 115200, true)
    ->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(RfsvTransfer, Series3_115200_read, 115200, false)
    ->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);

BENCHMARK_MAIN();
