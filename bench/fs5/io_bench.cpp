// tavro5's file I/O through the kernel's system calls against the host's simulated Series 5:
// 1 MiB read and written with an instant link (MB/s, requests per MiB), and 256 KiB at
// 115,200 baud against the protocol's limit: what the same bytes need on the wire when every
// request carries the family's largest chunk (2048 bytes) and nothing else is sent.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "../MountedDrive.h"
#include "platform/Series5Wire.h"

namespace {

constexpr size_t kChunk = epoc::kMaxChunk;

constexpr size_t kMiB = 1 << 20;
constexpr size_t kCall = 64 * kChunk;  // calls of whole chunks, as the Linux kernel makes them

void BM_SequentialWrite1MiB(benchmark::State& state) {
    Mounted m(handheld::LinkSpeed::Unlimited(), false, true);
    if (!m.ok) return state.SkipWithError("mount failed");
    std::string content = Pattern(kMiB);
    uint32 before = m.Sent(epoc::kWrite), seeks = m.Sent(epoc::kSeek);
    for (auto _ : state)
        if (!WriteFile(m, "Sequential.bin", content, kCall))
            return state.SkipWithError("write failed");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kMiB));
    state.counters["writes_per_MiB"] = (m.Sent(epoc::kWrite) - before) / double(state.iterations());
    state.counters["seeks_per_MiB"] = (m.Sent(epoc::kSeek) - seeks) / double(state.iterations());
}
BENCHMARK(BM_SequentialWrite1MiB)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_SequentialRead1MiB(benchmark::State& state) {
    Mounted m(handheld::LinkSpeed::Unlimited(), false, true);
    if (!m.ok) return state.SkipWithError("mount failed");
    if (!WriteFile(m, "Sequential.bin", Pattern(kMiB), kCall)) return state.SkipWithError("setup");
    uint32 before = m.Sent(epoc::kRead), seeks = m.Sent(epoc::kSeek);
    for (auto _ : state)
        if (!ReadFile(m, "Sequential.bin", kMiB, kCall)) return state.SkipWithError("read failed");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kMiB));
    state.counters["reads_per_MiB"] = (m.Sent(epoc::kRead) - before) / double(state.iterations());
    state.counters["seeks_per_MiB"] = (m.Sent(epoc::kSeek) - seeks) / double(state.iterations());
}
BENCHMARK(BM_SequentialRead1MiB)->UseRealTime()->Unit(benchmark::kMillisecond);

// 256 KiB over the Series 5 cable (115,200 baud: 11,520 bytes a second, and the link model's
// time for each packet). "limit_Bps" is the protocol's best: one request of the largest chunk
// and its reply for every 2048 bytes, each paying its bytes and the packet time; "of_limit" is
// the share of it that was reached, whole operation included (open, seeks, close, stat).
void BM_Serial115200(benchmark::State& state) {
    const bool write = state.range(0) == 1;
    const size_t size = 256 * 1024;
    handheld::LinkSpeed speed = handheld::LinkSpeed::Series5Cable();
    Mounted m(speed, false, true);
    if (!m.ok) return state.SkipWithError("mount failed");
    std::string content = Pattern(size);
    if (!write) std::ofstream(m.folder + "/Slow.bin", std::ios::binary) << content;
    // The bytes of one chunk's request and reply.
    size_t request = write ? 8 + kChunk : 12, reply = write ? 8 : 8 + kChunk;
    double chunkSeconds = (speed.WireTime(request) + speed.WireTime(reply)) / 1e6;
    double limit = kChunk / chunkSeconds;
    double elapsed = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        if (!(write ? WriteFile(m, "Slow.bin", content, kCall)
                    : ReadFile(m, "Slow.bin", size, kCall)))
            return state.SkipWithError("transfer failed");
        elapsed += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
    state.counters["limit_Bps"] = limit;
    state.counters["line_Bps"] = speed.bytesPerSecond;
    // The time the bytes need at the limit, over the time they took.
    state.counters["of_limit"] =
        static_cast<double>(size) * static_cast<double>(state.iterations()) / limit / elapsed;
}
BENCHMARK(BM_Serial115200)->Arg(0)->Arg(1)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

}  // namespace
