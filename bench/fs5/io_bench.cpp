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

#include "host/HostLink.h"
#include "host/RawChannel.h"
#include "kernel/syscalls.h"
#include "platform/ByteOrder.h"

namespace {

constexpr uint16 kRead = 0x18;
constexpr uint16 kWrite = 0x19;
constexpr uint16 kSeek = 0x1A;
constexpr size_t kChunk = 2048;

struct Mounted {
    std::string folder;
    std::string where = "/bench5/Internal";
    std::unique_ptr<vantrel::HostLink> host;
    std::unique_ptr<vantrel::RawChannel> channel;
    sem_id sem = -1;
    bool ok = false;

    explicit Mounted(handheld::LinkSpeed speed) {
        std::string pattern = std::filesystem::temp_directory_path() / "tavro5-bench-XXXXXX";
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        if (mkdtemp(buffer.data()) == nullptr) return;
        folder = buffer.data();
        vantrel::HostOptions options;
        options.family = vantrel::Family::Series5;
        vantrel::DriveSetup drive;
        drive.letter = 'C';
        drive.volumeName = "Internal";
        drive.folder = folder;
        drive.capacity = 16 * 1024 * 1024;
        options.drives.push_back(drive);
        options.speed = speed;
        options.traceInMemory = false;
        host = std::make_unique<vantrel::HostLink>(options);
        if (host->Start() != B_OK || host->LinkUp() != B_OK) return;
        channel = std::make_unique<vantrel::RawChannel>();
        if (channel->Connect("SYS$RFSV", 10000000) != B_OK) return;
        sem = create_sem(1, "RFSV-NCP-Write");
        uint8 block[408] = {};
        LongToBytes(static_cast<uint32>(host->RequestPort()), block + 4);
        LongToBytes(static_cast<uint32>(channel->ReplyPort()), block + 8);
        WordToBytes(channel->Channel(), block + 12);
        LongToBytes(static_cast<uint32>(sem), block + 16);
        memcpy(block + 20, "C:", 2);
        kernel_set_addon_path(TAVRO_FS_ADDON_DIR);
        ok = mount("tavro5", where.c_str(), nullptr, 0, block, sizeof block) == B_OK;
        host->Trace().Reset();
    }
    ~Mounted() {
        if (ok) unmount(where.c_str());
        channel.reset();
        if (host) host->LinkDown();
        host.reset();
        if (sem >= 0) delete_sem(sem);
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
    // The volume talks on a session of its own; nothing else sends file requests.
    uint32 Sent(uint16 op) { return host->Trace().CountRequests(op); }
    std::string Path(const char* name) const { return where + "/" + name; }
};

std::string Pattern(size_t size) {
    std::string out(size, '\0');
    for (size_t i = 0; i < size; i++) out[i] = static_cast<char>(i * 131 + (i >> 9));
    return out;
}

bool WriteFile(Mounted& m, const char* name, const std::string& content, size_t call) {
    int fd = sys_open(m.Path(name).c_str(), B_O_WRONLY | B_O_CREAT | B_O_TRUNC, 0644);
    if (fd < 0) return false;
    for (size_t done = 0; done < content.size(); done += call) {
        size_t n = std::min(call, content.size() - done);
        if (sys_write(fd, static_cast<off_t>(done), content.data() + done, n) !=
            static_cast<ssize_t>(n)) {
            sys_close(fd);
            return false;
        }
    }
    return sys_close(fd) == B_OK;
}

bool ReadFile(Mounted& m, const char* name, size_t size, size_t call) {
    int fd = sys_open(m.Path(name).c_str(), B_O_RDONLY, 0);
    if (fd < 0) return false;
    std::vector<char> buffer(call);
    size_t done = 0;
    for (;;) {
        ssize_t n = sys_read(fd, static_cast<off_t>(done), buffer.data(), call);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    sys_close(fd);
    return done == size;
}

constexpr size_t kMiB = 1 << 20;
constexpr size_t kCall = 64 * kChunk;  // calls of whole chunks, as the Linux kernel makes them

void BM_SequentialWrite1MiB(benchmark::State& state) {
    Mounted m(handheld::LinkSpeed::Unlimited());
    if (!m.ok) return state.SkipWithError("mount failed");
    std::string content = Pattern(kMiB);
    uint32 before = m.Sent(kWrite), seeks = m.Sent(kSeek);
    for (auto _ : state)
        if (!WriteFile(m, "Sequential.bin", content, kCall))
            return state.SkipWithError("write failed");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kMiB));
    state.counters["writes_per_MiB"] = (m.Sent(kWrite) - before) / double(state.iterations());
    state.counters["seeks_per_MiB"] = (m.Sent(kSeek) - seeks) / double(state.iterations());
}
BENCHMARK(BM_SequentialWrite1MiB)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_SequentialRead1MiB(benchmark::State& state) {
    Mounted m(handheld::LinkSpeed::Unlimited());
    if (!m.ok) return state.SkipWithError("mount failed");
    if (!WriteFile(m, "Sequential.bin", Pattern(kMiB), kCall)) return state.SkipWithError("setup");
    uint32 before = m.Sent(kRead), seeks = m.Sent(kSeek);
    for (auto _ : state)
        if (!ReadFile(m, "Sequential.bin", kMiB, kCall)) return state.SkipWithError("read failed");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kMiB));
    state.counters["reads_per_MiB"] = (m.Sent(kRead) - before) / double(state.iterations());
    state.counters["seeks_per_MiB"] = (m.Sent(kSeek) - seeks) / double(state.iterations());
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
    Mounted m(speed);
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
