// The line's bytes are untrusted: the frame decoder (fed in pieces whose sizes the input
// picks), the link machine of both roles, and the channel layer behind each.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "link/ChannelLayer.h"
#include "link/LinkMachine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    size_t piece = 1 + data[0] % 64;
    wire::FrameDecoder decoder;
    std::vector<wire::Frame> frames;
    for (size_t at = 1; at < size; at += piece)
        decoder.Feed(data + at, std::min(piece, size - at), frames);
    for (const wire::Frame& frame : frames)
        if (frame.data.size() > wire::kMaxFrameData) __builtin_trap();

    for (wire::Role role : {wire::Role::Desktop, wire::Role::Handheld}) {
        wire::LinkConfig config;
        config.role = role;
        config.family = (data[0] & 0x80) ? wire::Variant::Series5 : wire::Variant::Series3;
        wire::LinkMachine machine(config);
        wire::ChannelLayer channels(role, wire::kSeries5Channels);
        machine.Start(0);
        bigtime_t now = 0;
        for (size_t at = 1; at < size; at += piece) {
            machine.Receive(data + at, std::min(piece, size - at), now);
            for (const wire::Bytes& payload : machine.TakeReceived()) {
                channels.Receive(payload.data(), payload.size());
                for (const wire::ChannelEvent& event : channels.TakeEvents())
                    if (event.kind == wire::ChannelEvent::Kind::ConnectAsked)
                        channels.Answer(event.remote, 9);
            }
            while (auto out = channels.NextPayload()) machine.Send(*out, now);
            now += 100000;
            machine.Tick(now);
            machine.TakeOutput();
        }
    }
    return 0;
}
