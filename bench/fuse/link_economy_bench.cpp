// Everyday work on a mount over a Series 3a cable (19,200 baud, the link model): a 20 KiB file
// read twice, the first 100 bytes of a 100 KiB file, `ls -l` of 300 entries twice. Each reports
// its time, requests and wire bytes (request and reply packets), and the least the protocol
// allows for the same work: the requests it cannot do without, at their sizes, on the same
// link. `ratio` is wire bytes over that least.
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>
#include <thread>

#include "LinkedMount.h"
#include "platform/Series3Wire.h"
#include "shell.h"

namespace {

using fusetest::quote;
using fusetest::run;
using handheld::LinkSpeed;

const LinkSpeed kCable = LinkSpeed::Series3Cable();

// Packet sizes of the requests, and the time a list of packets takes on the cable.
size_t PathRequest(const std::string& path) { return 4 + path.size() + 1; }
constexpr size_t kFinfoReply = 6 + 16;
constexpr size_t kFopenReply = 8;
constexpr size_t kHandleRequest = 6;  // FCLOSE, FDIRREAD
constexpr size_t kStatusReply = 6;
constexpr size_t kFreadRequest = 8;

struct Least {
    uint64_t packets = 0;
    uint64_t bytes = 0;
    void Add(size_t size) {
        packets++;
        bytes += size;
    }
    // Look the file up, open it, read `count` bytes in the largest requests, close it.
    void ReadFile(const std::string& path, uint64_t count) {
        Add(PathRequest(path));
        Add(kFinfoReply);
        Add(2 + PathRequest(path));
        Add(kFopenReply);
        for (uint64_t done = 0; done < count; done += RFSV_MAX_READ_CHUNK) {
            uint64_t chunk = std::min<uint64_t>(RFSV_MAX_READ_CHUNK, count - done);
            Add(kFreadRequest);
            Add(6 + chunk);
        }
        Add(kHandleRequest);
        Add(kStatusReply);
    }
    double Seconds() const {
        return (static_cast<double>(packets) * kCable.latency +
                static_cast<double>(bytes) * 1e6 / kCable.bytesPerSecond) /
               1e6;
    }
};

struct Run {
    double seconds;
    linktest::Traffic traffic;
};

Run Measure(linktest::LinkedDrive& mount, const std::string& command) {
    mount.trace().Reset();
    auto start = std::chrono::steady_clock::now();
    auto result = run("cd " + quote(mount.mount()) + " && " + command, 300);
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (result.status != 0) return {-1, {}};
    return {seconds, linktest::traffic_of(mount.trace())};
}

void Report(benchmark::State& state, const char* prefix, const Run& measured, const Least& least) {
    std::string p = prefix;
    state.counters[p + "_s"] = measured.seconds;
    state.counters[p + "_requests"] = measured.traffic.requests;
    state.counters[p + "_wire_bytes"] = static_cast<double>(measured.traffic.wire_bytes);
    state.counters[p + "_least_bytes"] = static_cast<double>(least.bytes);
    state.counters[p + "_least_s"] = least.Seconds();
    if (least.bytes > 0) {
        state.counters[p + "_ratio"] =
            static_cast<double>(measured.traffic.wire_bytes) / static_cast<double>(least.bytes);
    }
}

// Mounts the drive over the cable, with a file `name` of `size` random bytes when one is named.
bool Begin(benchmark::State& state, linktest::LinkedDrive& mount, const char* name = nullptr,
           size_t size = 0) {
    linktest::MountSetup setup;
    setup.speed = kCable;
    std::string why = mount.Start(setup);
    if (!why.empty()) state.SkipWithError(why.c_str());
    if (why.empty() && name != nullptr)
        run("head -c " + std::to_string(size) + " /dev/urandom > " +
            quote(mount.drive() + "/" + name));
    return why.empty();
}

void BM_CatTwice20KiB(benchmark::State& state) {
    for (auto _ : state) {
        linktest::LinkedDrive mount;
        if (!Begin(state, mount, "STORY.TXT", 20480)) return;
        Run first = Measure(mount, "cat STORY.TXT > /dev/null");
        Run second = Measure(mount, "cat STORY.TXT > /dev/null");
        Least least_first;
        least_first.ReadFile("M:\\STORY.TXT", 20480);
        // The copy is older than the cache time by now: one FINFO tells it is still good.
        Least least_second;
        least_second.Add(PathRequest("M:\\STORY.TXT"));
        least_second.Add(kFinfoReply);
        Report(state, "first", first, least_first);
        Report(state, "second", second, least_second);
        state.SetIterationTime(first.seconds + second.seconds);
    }
}
BENCHMARK(BM_CatTwice20KiB)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

void BM_Head100Of100KiB(benchmark::State& state) {
    for (auto _ : state) {
        linktest::LinkedDrive mount;
        if (!Begin(state, mount, "BIG.BIN", 102400)) return;
        Run head = Measure(mount, "head -c 100 BIG.BIN > /dev/null");
        Least least_bytes;  // the 100 bytes asked for
        least_bytes.ReadFile("M:\\BIG.BIN", 100);
        Least least_page;  // the one page the Linux page cache reads at the least
        least_page.ReadFile("M:\\BIG.BIN", 4096);
        Report(state, "head", head, least_bytes);
        state.counters["head_read_bytes_asked"] =
            static_cast<double>(head.traffic.read_bytes_asked);
        state.counters["head_least_page_bytes"] = static_cast<double>(least_page.bytes);
        state.counters["head_page_ratio"] =
            static_cast<double>(head.traffic.wire_bytes) / static_cast<double>(least_page.bytes);
        state.SetIterationTime(head.seconds);
    }
}
BENCHMARK(BM_Head100Of100KiB)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

void BM_LongListingTwice300(benchmark::State& state) {
    for (auto _ : state) {
        linktest::LinkedDrive mount;
        if (!Begin(state, mount)) return;
        std::string folder = mount.drive() + "/MANY";
        run("mkdir " + quote(folder) + " && cd " + quote(folder) +
            " && for i in $(seq 1 300); do printf $i > F$i.TXT; done");
        Run first = Measure(mount, "ls -l MANY > /dev/null");
        // The listing's close may follow the program's end.
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (mount.trace().CountRequests(FCLOSE) == 0 && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));  // and its reply
        first.traffic = linktest::traffic_of(mount.trace());
        Run second = Measure(mount, "ls -l MANY > /dev/null");

        // Look up MANY, open its listing, read the entries in the fullest replies the device
        // sends (entries are not split), one more read for the end, close.
        Least least;
        std::string pattern = "M:\\MANY\\*.*";
        least.Add(PathRequest("M:\\MANY"));
        least.Add(kFinfoReply);
        least.Add(2 + PathRequest(pattern));
        least.Add(kFopenReply);
        size_t reply = 8;
        for (int i = 1; i <= 300; i++) {
            size_t entry = 17 + std::to_string(i).size() + 5;  // "F<i>.TXT"
            if (reply + entry > RFSV_MAX_DIRREAD_REPLY) {
                least.Add(kHandleRequest);
                least.Add(reply);
                reply = 8;
            }
            reply += entry;
        }
        least.Add(kHandleRequest);
        least.Add(reply);
        least.Add(kHandleRequest);  // the read that meets the end
        least.Add(kStatusReply);
        least.Add(kHandleRequest);  // FCLOSE
        least.Add(kStatusReply);
        Report(state, "first", first, least);
        Report(state, "second", second, Least{});
        state.SetIterationTime(first.seconds + second.seconds);
    }
}
BENCHMARK(BM_LongListingTwice300)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
