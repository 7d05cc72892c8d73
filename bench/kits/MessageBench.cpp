// The application kit's message costs: flattening, and a synchronous round trip to a looper.
#include <benchmark/benchmark.h>

#include <vector>

#include "kits/Looper.h"
#include "kits/Message.h"
#include "kits/Messenger.h"

namespace {

class Replier : public BLooper {
public:
    Replier() : BLooper("replier") {}
    void MessageReceived(BMessage* message) override { message->SendReply(message); }
};

BMessage CommandMessage(size_t packetSize) {
    BMessage message('pcmd');
    std::vector<uint8> packet(packetSize, 0x5A);
    message.AddData("command", B_RAW_TYPE, packet.data(), static_cast<ssize_t>(packet.size()));
    message.AddInt32("port_id", 37);
    message.AddInt16("chan_id", 5);
    return message;
}

void BM_FlattenUnflatten(benchmark::State& state) {
    BMessage message = CommandMessage(static_cast<size_t>(state.range(0)));
    std::vector<char> buffer(static_cast<size_t>(message.FlattenedSize()));
    for (auto _ : state) {
        message.Flatten(buffer.data(), static_cast<ssize_t>(buffer.size()));
        BMessage back;
        benchmark::DoNotOptimize(
            back.Unflatten(buffer.data(), static_cast<ssize_t>(buffer.size())));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_FlattenUnflatten)->Arg(12)->Arg(512);

void BM_SynchronousRoundTrip(benchmark::State& state) {
    Replier* looper = new Replier;
    looper->Run();
    BMessenger messenger(looper);
    BMessage message = CommandMessage(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        BMessage reply;
        benchmark::DoNotOptimize(messenger.SendMessage(&message, &reply));
    }
    looper->Quit();
}
BENCHMARK(BM_SynchronousRoundTrip)->Arg(12)->Arg(512)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
