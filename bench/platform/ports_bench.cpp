// What every device request pays in the port layer: a request written to one port, answered
// by another thread on a second port.
#include <benchmark/benchmark.h>

#include <vector>

#include "platform/OS.h"

namespace {

constexpr int32 kQuit = -1;

struct Echo {
    port_id requests;
    port_id replies;
};

// Answers every request with a message of the same size until told to quit.
status_t EchoServer(void* data) {
    const Echo* echo = static_cast<const Echo*>(data);
    std::vector<uint8> buffer(4096);
    for (;;) {
        int32 code;
        ssize_t size = read_port(echo->requests, &code, buffer.data(), buffer.size());
        if (size < 0 || code == kQuit) return B_OK;
        if (write_port(echo->replies, code, buffer.data(), size) != B_OK) return B_ERROR;
    }
}

void BM_PortRoundTrip(benchmark::State& state) {
    const size_t size = static_cast<size_t>(state.range(0));
    Echo echo{create_port(50, "bench requests"), create_port(50, "bench replies")};
    thread_id server = spawn_thread(EchoServer, "bench echo", B_NORMAL_PRIORITY, &echo);
    resume_thread(server);
    std::vector<uint8> request(size, 0x5a);
    std::vector<uint8> reply(4096);

    for (auto _ : state) {
        write_port(echo.requests, 0x20001, request.data(), size);
        int32 code;
        ssize_t got =
            read_port_etc(echo.replies, &code, reply.data(), reply.size(), B_TIMEOUT, 10000000);
        if (got != static_cast<ssize_t>(size)) {
            state.SkipWithError("short or missing reply");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * size * 2);

    write_port(echo.requests, kQuit, nullptr, 0);
    status_t ignored;
    wait_for_thread(server, &ignored);
    delete_port(echo.requests);
    delete_port(echo.replies);
}
BENCHMARK(BM_PortRoundTrip)->Arg(0)->Arg(64)->Arg(511)->UseRealTime();

// The same write and read on one thread: the cost without a thread switch.
void BM_PortWriteReadSameThread(benchmark::State& state) {
    port_id port = create_port(50, "bench loop");
    uint8 buffer[64] = {};
    for (auto _ : state) {
        write_port(port, 1, buffer, sizeof buffer);
        int32 code;
        benchmark::DoNotOptimize(read_port(port, &code, buffer, sizeof buffer));
    }
    delete_port(port);
}
BENCHMARK(BM_PortWriteReadSameThread);

}  // namespace
