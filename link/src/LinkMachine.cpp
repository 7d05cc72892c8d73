#include "link/LinkMachine.h"

#include <algorithm>

#include "platform/ByteAppend.h"
#include "platform/NameTable.h"

namespace wire {

namespace {

Bytes MagicBytes(uint32 magic) {
    Bytes bytes;
    AppendLong(bytes, magic);
    return bytes;
}

bool IsReqCon(uint16 seq) { return seq >= kReqConSeq && seq <= kReqConLastSeq; }
bool IsReqReq(uint16 seq) { return seq >= kReqReqSeq && seq <= kReqReqLastSeq; }

}  // namespace

constexpr NamedValue<DownReason> kDownReasons[] = {
    {DownReason::None, "up"},
    {DownReason::NoAnswer, "no answer"},
    {DownReason::RetriesExhausted, "no answer after retries"},
    {DownReason::Disc, "the handheld ended the link"},
    {DownReason::Echo, "the line echoes what we send (loopback or modem?)"},
    {DownReason::Reset, "the other end started a new link"},
    {DownReason::Inactive, "nothing heard for too long"},
    {DownReason::Local, "ended here"},
};

const char* DescribeDownReason(DownReason reason) { return NameOf(kDownReasons, reason); }

LinkMachine::LinkMachine(LinkConfig config) : fConfig(config) {
    if (fConfig.baud == 0) fConfig.baud = 19200;
    fVariant = fConfig.role == Role::Handheld ? fConfig.family : Variant::Series3;
}

bigtime_t LinkMachine::RetransmitTime() const {
    if (fConfig.retransmitAfter > 0) return fConfig.retransmitAfter;
    return static_cast<bigtime_t>(kRetransmitBitsNumerator) * 1000000 / fConfig.baud +
           kRetransmitExtra;
}

uint16 LinkMachine::Modulus() const {
    return fVariant == Variant::Series5 ? kSeries5SeqModulus : kSeries3SeqModulus;
}

uint32 LinkMachine::Window() const {
    if (fVariant != Variant::Series5) return 1;
    return std::clamp<uint32>(fConfig.sendWindow, 1, kSeries5ReceiveWindow);
}

void LinkMachine::Emit(const Frame& frame, Variant variant, const char* note) {
    fOut.push_back(EncodeFrame(frame, variant));
    fStats.wireBytesOut += fOut.back().size();
    ++fStats.framesOut;
    if (fObserver) fObserver(true, frame, note);
}

void LinkMachine::SendMagic(bigtime_t now) {
    Emit(Frame{FrameType::Req, kReqConSeq, MagicBytes(fConfig.magic)}, Variant::Series5);
    fSentReqCon = true;
    fDeadline = now + RetransmitTime();
}

void LinkMachine::Start(bigtime_t now) {
    fDecoder.Reset();
    fReason = DownReason::None;
    fTries = 0;
    fSentReqCon = false;
    if (fConfig.role == Role::Handheld) {
        fState = LinkState::Idle;
        fDeadline = -1;
        return;
    }
    fState = LinkState::Connecting;
    Emit(Frame{FrameType::Req, kReqReqSeq, {}}, Variant::Series5);
    fDeadline = now + RetransmitTime();
}

void LinkMachine::ComeUp(Variant variant, uint16 sendSeed, bigtime_t now) {
    fState = LinkState::Up;
    fReason = DownReason::None;
    fVariant = variant;
    fSendSeq = static_cast<uint16>(sendSeed % Modulus());
    fLastReceived = 0;
    fQueue.clear();
    fInFlight.clear();
    fReceived.clear();
    fTries = 0;
    fDeadline = -1;
    fLastHeard = now;
    fSentReqCon = false;
    ++fSession;
}

void LinkMachine::GoDown(DownReason reason) {
    fReason = reason;
    fQueue.clear();
    fInFlight.clear();
    fDeadline = -1;
    fSentReqCon = false;
    // A handheld listens for the next connect at once.
    fState = fConfig.role == Role::Handheld ? LinkState::Idle : LinkState::Down;
    if (fConfig.role == Role::Handheld) fVariant = fConfig.family;
}

void LinkMachine::Disconnect(bigtime_t now) {
    (void)now;
    if (fState != LinkState::Up && fState != LinkState::Connecting) return;
    Emit(Frame{FrameType::Disc, 0, {}}, fVariant);
    GoDown(DownReason::Local);
}

bool LinkMachine::Send(Bytes payload, bigtime_t now) {
    if (fState != LinkState::Up) return false;
    if (payload.size() > kMaxFrameData) payload.resize(kMaxFrameData);
    fQueue.push_back(std::move(payload));
    Pump(now);
    return true;
}

void LinkMachine::Pump(bigtime_t now) {
    while (fInFlight.size() < Window() && !fQueue.empty()) {
        fSendSeq = static_cast<uint16>((fSendSeq + 1) % Modulus());
        Emit(Frame{FrameType::Data, fSendSeq, fQueue.front()}, fVariant);
        ++fStats.dataOut;
        fInFlight.push_back(InFlight{fSendSeq, std::move(fQueue.front())});
        fQueue.pop_front();
        if (fDeadline < 0) fDeadline = now + RetransmitTime();
    }
}

void LinkMachine::Receive(const uint8* data, size_t size, bigtime_t now) {
    std::vector<Frame> frames;
    fStats.wireBytesIn += size;
    fDecoder.Feed(data, size, frames);
    fStats.badCrcs = fDecoder.BadCrcs();
    fStats.badFrames = fDecoder.BadFrames();
    for (const Frame& frame : frames) HandleFrame(frame, now);
}

void LinkMachine::HandleConnectFrame(const Frame& frame, bigtime_t now) {
    bool desktop = fConfig.role == Role::Desktop;
    if (IsReqCon(frame.seq)) {
        if (frame.data == MagicBytes(fConfig.magic)) {
            if (desktop && fState == LinkState::Connecting) GoDown(DownReason::Echo);
            return;
        }
        if (!desktop) return;  // a handheld never gets a connect reply
        if (fState == LinkState::Up) {
            GoDown(DownReason::Reset);
            return;
        }
        if (fState != LinkState::Connecting) return;
        Emit(Frame{FrameType::Ack, 0, {}}, Variant::Series5);
        ComeUp(Variant::Series5, 0, now);
        return;
    }
    if (frame.seq > kReqReqLastSeq) return;
    if (desktop) {
        if (fState == LinkState::Up) {
            GoDown(DownReason::Reset);
        } else if (fState == LinkState::Connecting) {
            if (IsReqReq(frame.seq)) {
                // Another Series 5 style opener, or our own request coming back: answering
                // with our magic tells the two apart.
                SendMagic(now);
            } else {
                Emit(Frame{FrameType::Ack, 0, {}}, Variant::Series3);
                ComeUp(Variant::Series3, 0, now);
            }
        }
        return;
    }
    // Handheld: any connect request while up resets the link.
    if (fState == LinkState::Up) GoDown(DownReason::Reset);
    if (fConfig.family == Variant::Series5 && IsReqReq(frame.seq)) {
        fState = LinkState::Connecting;
        fTries = 0;
        SendMagic(now);
    } else {
        Emit(Frame{FrameType::Ack, 0, {}}, fConfig.family);
        ComeUp(fConfig.family, 0, now);
    }
}

void LinkMachine::HandleFrame(const Frame& frame, bigtime_t now) {
    ++fStats.framesIn;
    if (frame.type == FrameType::Req) {
        if (fObserver) fObserver(false, frame, "");
        HandleConnectFrame(frame, now);
        return;
    }
    if (frame.type == FrameType::Disc) {
        if (fObserver) fObserver(false, frame, "");
        if (fState == LinkState::Up || fState == LinkState::Connecting) GoDown(DownReason::Disc);
        return;
    }
    if (fState == LinkState::Connecting) {
        if (frame.type == FrameType::Ack) {
            if (fObserver) fObserver(false, frame, "");
            Variant found = fSentReqCon ? Variant::Series5 : Variant::Series3;
            if (fConfig.role == Role::Handheld) found = fConfig.family;
            ComeUp(found, frame.seq, now);
            return;
        }
        // Data before the connect's Ack: the Ack was lost, the other end is up.
        if (fConfig.role == Role::Handheld && fSentReqCon) ComeUp(fConfig.family, 0, now);
    }
    if (fState != LinkState::Up) {
        if (fObserver) fObserver(false, frame, "ignored");
        return;
    }
    fLastHeard = now;
    if (frame.type == FrameType::Ack) {
        auto it = std::find_if(fInFlight.begin(), fInFlight.end(),
                               [&](const InFlight& f) { return f.seq == frame.seq; });
        if (fObserver) fObserver(false, frame, it == fInFlight.end() ? "stale" : "");
        if (it == fInFlight.end()) return;
        fInFlight.erase(fInFlight.begin(), it + 1);
        fTries = 0;
        fDeadline = fInFlight.empty() ? -1 : now + RetransmitTime();
        Pump(now);
        return;
    }
    // Data: take only the next in order; always ack the last good one.
    uint16 expected = static_cast<uint16>((fLastReceived + 1) % Modulus());
    bool fresh = frame.seq == expected;
    if (fObserver) fObserver(false, frame, fresh ? "" : "dup");
    if (fresh) {
        fLastReceived = frame.seq;
        fReceived.push_back(frame.data);
    } else {
        ++fStats.duplicates;
    }
    Emit(Frame{FrameType::Ack, fLastReceived, {}}, fVariant);
}

void LinkMachine::Tick(bigtime_t now) {
    if (fState == LinkState::Up && fConfig.inactivity > 0 &&
        now - fLastHeard >= fConfig.inactivity) {
        GoDown(DownReason::Inactive);
        return;
    }
    if (fDeadline < 0 || now < fDeadline) return;
    if (fState == LinkState::Connecting) {
        if (fTries >= fConfig.connectRetries) {
            GoDown(DownReason::NoAnswer);
            return;
        }
        ++fTries;
        if (fSentReqCon)
            SendMagic(now);
        else {
            Emit(Frame{FrameType::Req, kReqReqSeq, {}}, Variant::Series5, "resend");
            fDeadline = now + RetransmitTime();
        }
        return;
    }
    if (fState != LinkState::Up || fInFlight.empty()) {
        fDeadline = -1;
        return;
    }
    if (fTries >= fConfig.maxResends) {
        Emit(Frame{FrameType::Disc, 0, {}}, fVariant);
        GoDown(DownReason::RetriesExhausted);
        return;
    }
    ++fTries;
    for (const InFlight& frame : fInFlight) {
        Emit(Frame{FrameType::Data, frame.seq, frame.payload}, fVariant, "resend");
        ++fStats.retransmissions;
    }
    fDeadline = now + RetransmitTime();
}

bigtime_t LinkMachine::NextDeadline() const {
    bigtime_t next = fDeadline;
    if (fState == LinkState::Up && fConfig.inactivity > 0) {
        bigtime_t idle = fLastHeard + fConfig.inactivity;
        if (next < 0 || idle < next) next = idle;
    }
    return next;
}

Bytes LinkMachine::TakeOutput() {
    Bytes out;
    for (const Bytes& frame : fOut) out.insert(out.end(), frame.begin(), frame.end());
    fOut.clear();
    return out;
}

std::vector<Bytes> LinkMachine::TakeOutputFrames() {
    std::vector<Bytes> out;
    out.swap(fOut);
    return out;
}

std::deque<Bytes> LinkMachine::TakeReceived() {
    std::deque<Bytes> out;
    out.swap(fReceived);
    return out;
}

}  // namespace wire
