// File I/O through the kernel's system calls against the host's simulated Series 3: 1 MiB
// read and written sequentially with an instant link (MB/s, requests per MiB), and 100 KiB at
// 19,200 baud against the time the bytes need on the wire.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "../MountedDrive.h"
#include "platform/Series3Wire.h"

namespace {

constexpr size_t kMiB = 1 << 20;
// Calls of whole chunks, so that only the file's last chunk is a short request.
constexpr size_t kReadCall = 128 * RFSV_MAX_READ_CHUNK;
constexpr size_t kWriteCall = 128 * RFSV_MAX_WRITE_CHUNK;

void BM_SequentialWrite1MiB(benchmark::State& state) {
    Mounted m(handheld::LinkSpeed::Unlimited());
    if (!m.ok) return state.SkipWithError("mount failed");
    std::string content = Pattern(kMiB);
    uint32 before = m.Sent(FWRITE), seeks = m.Sent(FSEEK);
    for (auto _ : state)
        if (!WriteFile(m, "SEQ.BIN", content, kWriteCall))
            return state.SkipWithError("write failed");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kMiB));
    state.counters["FWRITE_per_MiB"] = (m.Sent(FWRITE) - before) / double(state.iterations());
    state.counters["FSEEK_per_MiB"] = (m.Sent(FSEEK) - seeks) / double(state.iterations());
}
BENCHMARK(BM_SequentialWrite1MiB)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_SequentialRead1MiB(benchmark::State& state) {
    Mounted m(handheld::LinkSpeed::Unlimited());
    if (!m.ok) return state.SkipWithError("mount failed");
    if (!WriteFile(m, "SEQ.BIN", Pattern(kMiB), 65536)) return state.SkipWithError("setup");
    uint32 before = m.Sent(FREAD), seeks = m.Sent(FSEEK);
    for (auto _ : state)
        if (!ReadFile(m, "SEQ.BIN", kMiB, kReadCall)) return state.SkipWithError("read failed");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kMiB));
    state.counters["FREAD_per_MiB"] = (m.Sent(FREAD) - before) / double(state.iterations());
    state.counters["FSEEK_per_MiB"] = (m.Sent(FSEEK) - seeks) / double(state.iterations());
}
BENCHMARK(BM_SequentialRead1MiB)->UseRealTime()->Unit(benchmark::kMillisecond);

// The wire time of every packet the trace saw, both ways.
double WireSeconds(Mounted& m, const handheld::LinkSpeed& speed) {
    bigtime_t total = 0;
    for (const auto& record : m.host->Trace().Records())
        if (record.event == handheld::TraceEvent::Request ||
            record.event == handheld::TraceEvent::Reply)
            total += speed.WireTime(record.bytes.size());
    return total / 1e6;
}

void BM_Serial19200(benchmark::State& state) {
    const bool write = state.range(0) == 1;
    const size_t size = 100 * 1024;
    handheld::LinkSpeed speed = handheld::LinkSpeed::Series3Cable();
    Mounted m(speed, true);
    if (!m.ok) return state.SkipWithError("mount failed");
    std::string content = Pattern(size);
    if (!write) {
        std::ofstream(m.folder + "/SLOW.BIN", std::ios::binary) << content;
    }
    double wire = 0;
    for (auto _ : state) {
        m.host->Trace().Reset();
        bool done =
            write ? WriteFile(m, "SLOW.BIN", content, 65536) : ReadFile(m, "SLOW.BIN", size, 65536);
        if (!done) return state.SkipWithError("transfer failed");
        wire += WireSeconds(m, speed);
    }
    state.counters["wire_s"] = wire / double(state.iterations());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}
BENCHMARK(BM_Serial19200)->Arg(0)->Arg(1)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

}  // namespace
