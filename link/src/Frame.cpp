#include "link/Frame.h"

namespace wire {

namespace {

constexpr uint8 kSyn = 0x16;
constexpr uint8 kDle = 0x10;
constexpr uint8 kStx = 0x02;
constexpr uint8 kEtx = 0x03;
constexpr uint8 kEtxStuffed = 0x04;  // 10 04 stands for 03 on a Series 5 family line

// CS, the extended sequence byte and DATA: everything the CRC covers.
void AppendStuffed(uint8 byte, Variant variant, Bytes& out) {
    if (byte == kDle) {
        out.push_back(kDle);
        out.push_back(kDle);
    } else if (byte == kEtx && variant == Variant::Series5) {
        out.push_back(kDle);
        out.push_back(kEtxStuffed);
    } else {
        out.push_back(byte);
    }
}

}  // namespace

uint16 Crc16(const uint8* data, size_t size, uint16 crc) {
    for (size_t i = 0; i < size; ++i) {
        crc ^= static_cast<uint16>(data[i]) << 8;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? static_cast<uint16>((crc << 1) ^ 0x1021)
                                 : static_cast<uint16>(crc << 1);
    }
    return crc;
}

void EncodeFrame(const Frame& frame, Variant variant, Bytes& out) {
    Bytes body;
    uint8 type = static_cast<uint8>(frame.type) & 0x0F;
    if (frame.seq > 7) {
        body.push_back(static_cast<uint8>((type << 4) | (frame.seq & 7) | 8));
        body.push_back(static_cast<uint8>(frame.seq >> 3));
    } else {
        body.push_back(static_cast<uint8>((type << 4) | frame.seq));
    }
    size_t size = frame.data.size() < kMaxFrameData ? frame.data.size() : kMaxFrameData;
    body.insert(body.end(), frame.data.begin(), frame.data.begin() + static_cast<long>(size));
    uint16 crc = Crc16(body.data(), body.size());

    out.push_back(kSyn);
    out.push_back(kDle);
    out.push_back(kStx);
    for (uint8 byte : body) AppendStuffed(byte, variant, out);
    out.push_back(kDle);
    out.push_back(kEtx);
    out.push_back(static_cast<uint8>(crc >> 8));
    out.push_back(static_cast<uint8>(crc));
}

Bytes EncodeFrame(const Frame& frame, Variant variant) {
    Bytes out;
    EncodeFrame(frame, variant, out);
    return out;
}

void FrameDecoder::Reset() {
    fState = State::Hunt;
    fBody.clear();
}

void FrameDecoder::Finish(std::vector<Frame>& frames) {
    if (fBody.empty()) {
        ++fBadFrames;
        return;
    }
    if (Crc16(fBody.data(), fBody.size()) != fCrc) {
        ++fBadCrcs;
        return;
    }
    uint8 cs = fBody[0];
    if ((cs >> 4) > static_cast<uint8>(FrameType::Data)) {
        ++fBadFrames;
        return;
    }
    Frame frame;
    frame.type = static_cast<FrameType>(cs >> 4);
    size_t dataStart = 1;
    if (cs & 8) {
        if (fBody.size() < 2) {
            ++fBadFrames;
            return;
        }
        frame.seq = static_cast<uint16>((fBody[1] << 3) | (cs & 7));
        dataStart = 2;
    } else {
        frame.seq = cs & 7;
    }
    if (fBody.size() - dataStart > kMaxFrameData) {
        ++fBadFrames;
        return;
    }
    frame.data.assign(fBody.begin() + static_cast<long>(dataStart), fBody.end());
    frames.push_back(std::move(frame));
}

void FrameDecoder::Feed(const uint8* data, size_t size, std::vector<Frame>& frames) {
    // CS, an extended sequence byte and the largest DATA.
    constexpr size_t kMaxBody = 2 + kMaxFrameData;
    for (size_t i = 0; i < size; ++i) {
        uint8 byte = data[i];
        switch (fState) {
            case State::Hunt:
                if (byte == kSyn) fState = State::Sync1;
                break;
            case State::Sync1:
                fState = byte == kDle ? State::Sync2 : byte == kSyn ? State::Sync1 : State::Hunt;
                break;
            case State::Sync2:
                if (byte == kStx) {
                    fBody.clear();
                    fState = State::Body;
                } else {
                    fState = byte == kSyn ? State::Sync1 : State::Hunt;
                }
                break;
            case State::Body:
                if (byte == kDle) {
                    fState = State::Escape;
                } else if (fBody.size() >= kMaxBody) {
                    ++fBadFrames;
                    fState = byte == kSyn ? State::Sync1 : State::Hunt;
                } else {
                    fBody.push_back(byte);
                }
                break;
            case State::Escape:
                if (byte == kEtx) {
                    fState = State::Crc1;
                } else if ((byte == kDle || byte == kEtxStuffed) && fBody.size() < kMaxBody) {
                    fBody.push_back(byte == kDle ? kDle : kEtx);
                    fState = State::Body;
                } else if (byte == kStx) {
                    // A frame cut short by a new start: begin again.
                    ++fBadFrames;
                    fBody.clear();
                    fState = State::Body;
                } else {
                    ++fBadFrames;
                    fState = byte == kSyn ? State::Sync1 : State::Hunt;
                }
                break;
            case State::Crc1:
                fCrc = static_cast<uint16>(byte << 8);
                fState = State::Crc2;
                break;
            case State::Crc2:
                fCrc |= byte;
                fState = State::Hunt;
                Finish(frames);
                fBody.clear();
                break;
        }
    }
}

}  // namespace wire
