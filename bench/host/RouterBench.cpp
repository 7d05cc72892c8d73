// Round trips through the host's router to the simulated Series 3's file service, with an
// unlimited link: what the host itself costs per request.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "RawChannel.h"
#include "host/HostLink.h"
#include "platform/ByteOrder.h"

namespace {

struct BenchHost {
    BenchHost() {
        char pattern[] = "/tmp/tavro-bench-XXXXXX";
        folder = mkdtemp(pattern);
        std::ofstream(folder + "/BIG.BIN", std::ios::binary) << std::string(1 << 20, 'x');
        vantrel::HostOptions options;
        options.drives.push_back({'M', "INTERNAL", folder});
        host = std::make_unique<vantrel::HostLink>(options);
        host->Start();
        host->LinkUp();
        channel.Connect("SYS$RFSV");
    }
    ~BenchHost() {
        channel.Disconnect();
        host.reset();
        std::filesystem::remove_all(folder);
    }
    std::string folder;
    std::unique_ptr<vantrel::HostLink> host;
    vantrel::RawChannel channel;
};

std::vector<uint8> PathPayload(uint16 mode, const std::string& path) {
    std::vector<uint8> payload(2);
    WordToBytes(mode, payload.data());
    payload.insert(payload.end(), path.begin(), path.end());
    payload.push_back(0);
    return payload;
}

void BM_FinfoRoundTrip(benchmark::State& state) {
    BenchHost bench;
    std::vector<uint8> path(PathPayload(0, "M:\\BIG.BIN"));
    std::vector<uint8> packet = vantrel::Series3Packet(22, {path.begin() + 2, path.end()});
    std::vector<uint8> reply;
    for (auto _ : state) {
        if (bench.channel.Transact(packet, reply) != B_OK) state.SkipWithError("no reply");
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FinfoRoundTrip);

void BM_SequentialRead511(benchmark::State& state) {
    BenchHost bench;
    std::vector<uint8> reply;
    bench.channel.Transact(vantrel::Series3Packet(0, PathPayload(0x0200, "M:\\BIG.BIN")), reply);
    uint16 handle = BytesToUword(&reply.at(6));
    std::vector<uint8> read(4);
    WordToBytes(handle, read.data());
    WordToBytes(511, read.data() + 2);
    std::vector<uint8> packet = vantrel::Series3Packet(4, read);
    std::vector<uint8> seek(8);
    WordToBytes(handle, seek.data());
    WordToBytes(1, seek.data() + 6);
    std::vector<uint8> rewind = vantrel::Series3Packet(12, seek);
    size_t bytes = 0;
    for (auto _ : state) {
        bench.channel.Transact(packet, reply);
        if (reply.size() <= 6)
            bench.channel.Transact(rewind, reply);
        else
            bytes += reply.size() - 6;
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_SequentialRead511);

}  // namespace

BENCHMARK_MAIN();
