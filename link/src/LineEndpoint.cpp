#include "link/LineEndpoint.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <random>

namespace wire {

namespace {

bigtime_t Now() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

void SleepUntil(bigtime_t when) {
    bigtime_t wait = when - Now();
    if (wait > 0) std::this_thread::sleep_for(std::chrono::microseconds(wait));
}

const char* TypeName(FrameType type, uint16 seq) {
    switch (type) {
        case FrameType::Ack:
            return "Ack";
        case FrameType::Disc:
            return "Disc";
        case FrameType::Req:
            return seq == kReqSeq ? "Req" : seq <= kReqReqLastSeq ? "Req_Req" : "Req_Con";
        case FrameType::Data:
            return "Data";
    }
    return "?";
}

uint8 PickInfo(const EndpointOptions& options, Variant family) {
    if (options.infoVersion != 0) return options.infoVersion;
    if (options.link.role == Role::Desktop)
        return family == Variant::Series5 ? kInfoSeries5Early : kInfoSeries3;
    return family == Variant::Series5 ? kInfoSeries5 : kInfoSeries3Newer;
}

}  // namespace

uint32 FreshSessionId() {
    static std::atomic<uint32> counter{0};
    static const uint32 base = std::random_device()();
    // Distinct within the process by the counter, across runs by the random base.
    return base + 0x9E3779B9u * ++counter;
}

uint32 FreshMagic() { return std::random_device()() | 1; }

LineEndpoint::LineEndpoint(int fd, EndpointOptions options, EndpointCallbacks callbacks)
    : fFd(fd),
      fOptions(std::move(options)),
      fCallbacks(std::move(callbacks)),
      fMachine(fOptions.link),
      fFaults(fOptions.faultSeed) {
    fFaults.Set(fOptions.faults);
    if (pipe2(fWake, O_CLOEXEC | O_NONBLOCK) != 0) fWake[0] = fWake[1] = -1;
    InstallObserver();
}

void LineEndpoint::InstallObserver() {
    if (!fOptions.trace) return;
    fMachine.SetObserver([this](bool out, const Frame& frame, const char* note) {
        char line[96];
        snprintf(line, sizeof(line), "%s seq=%u len=%zu%s%s", TypeName(frame.type, frame.seq),
                 frame.seq, frame.data.size(), *note ? " " : "", note);
        fOptions.trace(out, line);
    });
}

LineEndpoint::~LineEndpoint() {
    Stop();
    if (fWake[0] >= 0) close(fWake[0]);
    if (fWake[1] >= 0) close(fWake[1]);
}

void LineEndpoint::Start() {
    {
        std::lock_guard<std::mutex> guard(fLock);
        if (fOptions.link.role == Role::Handheld) fMachine.Start(Now());
    }
    fThread = std::thread([this] { Run(); });
}

void LineEndpoint::Stop() {
    {
        std::lock_guard<std::mutex> guard(fLock);
        fStop = true;
    }
    Wake();
    if (fThread.joinable()) fThread.join();
}

void LineEndpoint::Wake() {
    if (fWake[1] >= 0) {
        char byte = 1;
        ssize_t ignored = write(fWake[1], &byte, 1);
        (void)ignored;
    }
}

void LineEndpoint::Open(uint32 baud) {
    {
        std::lock_guard<std::mutex> guard(fLock);
        LinkConfig config = fOptions.link;
        config.baud = baud;
        config.magic = FreshMagic();
        fOptions.link = config;
        fMachine = LinkMachine(config);
        InstallObserver();
        fChannels.reset();
        fSeenSession = 0;
        fWasUp = false;
        fHungUp = false;
        fMachine.Start(Now());
    }
    Wake();
}

void LineEndpoint::Close() {
    {
        std::lock_guard<std::mutex> guard(fLock);
        if (fChannels && fMachine.State() == LinkState::Up) {
            fChannels->End();
            while (auto payload = fChannels->NextPayload()) fMachine.Send(*payload, Now());
        }
    }
    // Give the end of channels a moment to leave before the Disc.
    for (int i = 0; i < 20; ++i) {
        {
            std::lock_guard<std::mutex> guard(fLock);
            if (fMachine.Pending() == 0 || fMachine.State() != LinkState::Up) break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    {
        std::lock_guard<std::mutex> guard(fLock);
        fMachine.Disconnect(Now());
    }
    Wake();
}

int LineEndpoint::Connect(const std::string& name) {
    int channel;
    {
        std::lock_guard<std::mutex> guard(fLock);
        if (!fChannels || fMachine.State() != LinkState::Up) return -1;
        channel = fChannels->Connect(name);
    }
    Wake();
    return channel;
}

void LineEndpoint::Answer(uint8 remote, uint8 local) {
    {
        std::lock_guard<std::mutex> guard(fLock);
        if (fChannels) fChannels->Answer(remote, local);
    }
    Wake();
}

bool LineEndpoint::SendMessage(uint8 channel, const uint8* data, size_t size) {
    bool sent;
    {
        std::lock_guard<std::mutex> guard(fLock);
        sent = fChannels && fMachine.State() == LinkState::Up &&
               fChannels->SendMessage(channel, data, size);
    }
    Wake();
    return sent;
}

void LineEndpoint::CloseChannel(uint8 channel) {
    {
        std::lock_guard<std::mutex> guard(fLock);
        if (fChannels) fChannels->Close(channel);
    }
    Wake();
}

LinkState LineEndpoint::State() const {
    std::lock_guard<std::mutex> guard(fLock);
    return fMachine.State();
}

DownReason LineEndpoint::Reason() const {
    std::lock_guard<std::mutex> guard(fLock);
    return fMachine.Reason();
}

Variant LineEndpoint::Family() const {
    std::lock_guard<std::mutex> guard(fLock);
    return fMachine.Family();
}

LinkStats LineEndpoint::Stats() const {
    std::lock_guard<std::mutex> guard(fLock);
    return fMachine.Stats();
}

uint64 LineEndpoint::FaultsApplied() const {
    std::lock_guard<std::mutex> guard(fLock);
    return fFaults.Applied();
}

bool LineEndpoint::HungUp() const {
    std::lock_guard<std::mutex> guard(fLock);
    return fHungUp;
}

void LineEndpoint::SetCut(bool cut) {
    {
        std::lock_guard<std::mutex> guard(fLock);
        fCut = cut;
        fCutUntil = 0;
    }
    Wake();
}

void LineEndpoint::SetFaults(std::vector<LineFault> faults) {
    std::lock_guard<std::mutex> guard(fLock);
    fFaults.Set(std::move(faults));
}

bigtime_t LineEndpoint::Due(size_t bytes, bigtime_t& clock, bigtime_t notBefore) {
    if (fOptions.bytesPerSecond == 0) return 0;
    bigtime_t start = std::max(Now(), notBefore);
    if (clock < start) clock = start;
    clock += static_cast<bigtime_t>(bytes) * 1000000 / fOptions.bytesPerSecond;
    return clock;
}

void LineEndpoint::WriteFrames(std::vector<Bytes> frames) {
    for (Bytes& frame : frames) {
        LineFaultResult result;
        bool cut;
        {
            std::lock_guard<std::mutex> guard(fLock);
            result = fFaults.Apply(std::move(frame));
            if (result.cut) {
                fCut = true;
                fCutUntil = result.cutFor > 0 ? Now() + result.cutFor : 0;
            }
            cut = fCut && !result.cut;
        }
        if (result.name && fOptions.trace)
            fOptions.trace(true, std::string("fault ") + result.name);
        if (cut) continue;
        if (result.delay > 0) std::this_thread::sleep_for(std::chrono::microseconds(result.delay));
        for (const Bytes& piece : result.send) {
            SleepUntil(Due(piece.size(), fOutClock, fInDue));
            size_t done = 0;
            while (done < piece.size()) {
                ssize_t n = write(fFd, piece.data() + done, piece.size() - done);
                if (n > 0) {
                    done += static_cast<size_t>(n);
                } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                    pollfd out{fFd, POLLOUT, 0};
                    poll(&out, 1, 50);
                } else {
                    break;  // the line is gone; the read side notices
                }
            }
        }
    }
}

void LineEndpoint::CheckSession(Transition& change) {
    if (fMachine.State() == LinkState::Up && fMachine.Session() != fSeenSession) {
        // A new session: every channel of the last one is gone.
        fSeenSession = fMachine.Session();
        if (fWasUp) {
            change.down = true;
            change.reason = DownReason::Reset;
        }
        change.family = fMachine.Family();
        change.infoSent = PickInfo(fOptions, change.family);
        fChannels = std::make_unique<ChannelLayer>(
            fOptions.link.role,
            change.family == Variant::Series5 ? kSeries5Channels : kSeries3Channels);
        fChannels->Begin(change.infoSent, FreshSessionId());
        change.up = true;
        fWasUp = true;
    } else if (fMachine.State() != LinkState::Up && fWasUp) {
        fWasUp = false;
        fChannels.reset();
        change.down = true;
        change.reason = fMachine.Reason();
    }
}

void LineEndpoint::Report(Transition& change) {
    if (change.down && fCallbacks.down) fCallbacks.down(change.reason);
    if (change.up && fCallbacks.up) fCallbacks.up(change.family, change.infoSent);
    change = Transition();
}

void LineEndpoint::Run() {
    // The line model's sleeps end when the line would be done, not up to 50 µs later.
    if (fOptions.bytesPerSecond > 0) prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    std::vector<uint8> buffer(4096);
    for (;;) {
        std::vector<Bytes> frames;
        std::vector<ChannelEvent> events;
        Transition change;
        bigtime_t deadline;
        bool listen;
        {
            std::lock_guard<std::mutex> guard(fLock);
            if (fStop) return;
            bigtime_t now = Now();
            if (fCut && fCutUntil > 0 && now >= fCutUntil) fCut = false;
            fMachine.Tick(now);
            CheckSession(change);
            if (fChannels && fMachine.State() == LinkState::Up) {
                // The link takes one frame (or the window) at a time, so an xoff still holds
                // back what has not left.
                while (fMachine.Pending() < std::max<uint32>(fOptions.link.sendWindow, 1) + 1) {
                    std::optional<Bytes> payload = fChannels->NextPayload();
                    if (!payload) break;
                    fMachine.Send(std::move(*payload), now);
                }
            }
            frames = fMachine.TakeOutputFrames();
            deadline = fMachine.NextDeadline();
            listen = !fHungUp;
            if (fCut && fCutUntil > 0 && (deadline < 0 || fCutUntil < deadline))
                deadline = fCutUntil;
        }
        Report(change);
        if (!frames.empty()) {
            WriteFrames(std::move(frames));
            continue;
        }

        int timeout = 200;
        if (deadline >= 0) {
            bigtime_t wait = deadline - Now();
            timeout = wait <= 0 ? 0 : static_cast<int>(std::min<bigtime_t>(wait / 1000 + 1, 200));
        }
        pollfd fds[2] = {{listen ? fFd : -1, POLLIN, 0}, {fWake[0], POLLIN, 0}};
        int ready = poll(fds, 2, timeout);
        if (ready <= 0) continue;
        if (fds[1].revents & POLLIN) {
            char drain[64];
            while (read(fWake[0], drain, sizeof(drain)) > 0) {
            }
        }
        if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        ssize_t got = read(fFd, buffer.data(), buffer.size());
        if (got <= 0) {
            if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
            // The other side of the line is closed: nothing more will come until reopened.
            {
                std::lock_guard<std::mutex> guard(fLock);
                if (fOptions.link.role == Role::Desktop) fHungUp = true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            continue;
        }
        // The bytes are through the line at fInDue; what they make us send (an ack) leaves
        // after that, and one sleep covers both.
        fInDue = Due(static_cast<size_t>(got), fInClock, 0);
        if (fOptions.lineUsable && !fOptions.lineUsable()) continue;
        {
            std::lock_guard<std::mutex> guard(fLock);
            if (fCut) continue;
            fMachine.Receive(buffer.data(), static_cast<size_t>(got), Now());
            std::deque<Bytes> payloads = fMachine.TakeReceived();
            // A session that came up inside this read gets its channel layer first.
            CheckSession(change);
            if (fChannels)
                for (const Bytes& payload : payloads)
                    fChannels->Receive(payload.data(), payload.size());
            if (fChannels) events = fChannels->TakeEvents();
            frames = fMachine.TakeOutputFrames();
        }
        // Acks leave before the callbacks run: a slow consumer (a file service writing to
        // disk) must not hold them back until the other end's timer resends the frame.
        if (!frames.empty())
            WriteFrames(std::move(frames));
        else
            SleepUntil(fInDue);
        Report(change);
        if (fCallbacks.event)
            for (const ChannelEvent& event : events) fCallbacks.event(event);
    }
}

}  // namespace wire
