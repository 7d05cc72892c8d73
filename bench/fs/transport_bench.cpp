// What the file system adds to a device request: send_command against a device that answers
// at once, next to the bare port round trip of the same sizes (the ratio is the overhead), and
// listing directories of 100, 1,000 and 10,000 entries (time per entry, requests sent).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "../../tests/fs/FakeKernel.h"
#include "ScriptedDevice.h"
#include "platform/ByteOrder.h"
#include "tavro.h"
#include "tavro_rfsv.h"

namespace {

// An 11-byte FINFO request and its 22-byte answer: a typical lookup.
const uint8 kFinfo[] = {0x16, 0, 7, 0, 'M', ':', '\\', 'A', 'B', 'C', 0};

std::optional<Bytes> AnswerFinfo(const Bytes&) {
    Bytes reply(22, 0);
    reply[2] = 18;
    return reply;
}

// A device that answers at once and keeps no record of what it was asked.
struct InstantDevice : ScriptedDevice {
    explicit InstantDevice(Responder responder) : ScriptedDevice(Quiet()) {
        SetResponder(std::move(responder));
    }
    static Options Quiet() {
        Options options;
        options.keepRequests = false;
        return options;
    }
};

void BM_BarePortRoundTrip(benchmark::State& state) {
    InstantDevice device(AnswerFinfo);
    std::vector<uint8> reply(64);
    for (auto _ : state) {
        write_port(device.RequestPort(), 0x20007, kFinfo, sizeof kFinfo);
        int32 code;
        ssize_t size = port_buffer_size_etc(device.ReplyPort(), B_TIMEOUT, 3000000);
        ssize_t got =
            read_port_etc(device.ReplyPort(), &code, reply.data(), size, B_TIMEOUT, 10000000);
        if (got != 22) {
            state.SkipWithError("no reply");
            break;
        }
    }
}
BENCHMARK(BM_BarePortRoundTrip)->UseRealTime();

volume* MountBench(ScriptedDevice& device) {
    MountBlockBytes block = device.MountBlock("M:");
    fake_kernel::Reset(1, false);
    void* ns = nullptr;
    vnode_id root;
    if (fs_mount(1, nullptr, 0, block.data(), block.size(), &ns, &root) != B_OK) return nullptr;
    fake_kernel::SetVolume(ns);
    return static_cast<volume*>(ns);
}

void UnmountBench(volume* vol) {
    fake_kernel::ReleaseAll();
    fs_unmount(vol);
}

void BM_SendCommandRoundTrip(benchmark::State& state) {
    InstantDevice device(AnswerFinfo);
    volume* vol = MountBench(device);
    for (auto _ : state) {
        int32 size;
        status_t transport;
        uint8* reply = send_command(vol, kFinfo, &size, &transport);
        if (reply == nullptr) {
            state.SkipWithError("no reply");
            break;
        }
        free(reply);
    }
    UnmountBench(vol);
}
BENCHMARK(BM_SendCommandRoundTrip)->UseRealTime();

// A directory of `entries` files, answered with as many entries per FDIRREAD reply as fit in
// the 512 bytes a Series 3 packet carries.
struct BigDirectory {
    int32 entries;
    int32 next = 0;

    std::optional<Bytes> Answer(const Bytes& request) {
        uint16 opcode = BytesToUword(request.data());
        Bytes reply(6, 0);
        if (opcode == FOPEN) {
            next = 0;
            reply.push_back(1);
            reply.push_back(0);
        } else if (opcode == FDIRREAD) {
            reply.push_back(0);
            reply.push_back(0);
            while (next < entries) {
                char name[16];
                int length = snprintf(name, sizeof name, "FILE%05d.TXT", next);
                if (reply.size() + 17 + length > 512) break;
                size_t at = reply.size();
                reply.resize(at + 16, 0);
                LongToBytes(1000 + next, &reply[at + 4]);
                reply.insert(reply.end(), name, name + length + 1);
                next++;
            }
            if (reply.size() == 8) {
                reply.resize(6);
                WordToBytes(static_cast<uint16>(-36), &reply[4]);
            }
        }
        WordToBytes(static_cast<uint16>(reply.size() - 4), &reply[2]);
        return reply;
    }
};

void BM_ListDirectory(benchmark::State& state) {
    BigDirectory directory{static_cast<int32>(state.range(0))};
    InstantDevice device([&](const Bytes& request) { return directory.Answer(request); });
    volume* vol = MountBench(device);
    uint64 requests = 0;
    int64 listed = 0;
    for (auto _ : state) {
        // Each pass starts from a fresh volume, so that every entry makes its node.
        state.PauseTiming();
        UnmountBench(vol);
        vol = MountBench(device);
        uint64 before = device.RequestCount();
        state.ResumeTiming();
        void* cookie;
        tavro_opendir(vol, vol->root, &cookie);
        for (;;) {
            be_dirent entry;
            long count = 0;
            tavro_readdir(vol, vol->root, cookie, &count, &entry, sizeof entry);
            if (count == 0) break;
            listed++;
        }
        tavro_free_dircookie(vol, vol->root, cookie);
        requests += device.RequestCount() - before;
    }
    UnmountBench(vol);
    state.counters["requests"] =
        benchmark::Counter(static_cast<double>(requests) / static_cast<double>(state.iterations()));
    state.counters["per_entry"] = benchmark::Counter(
        static_cast<double>(listed), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ListDirectory)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(10000)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
