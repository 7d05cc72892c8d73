// Link-layer frames: 16 10 02 | CS [ext seq] DATA | 10 03 | CRC hi lo. CS and DATA are stuffed
// (10 -> 10 10; on the Series 5 family also 03 -> 10 04); the CRC is CRC-16/XMODEM over the
// unstuffed CS, extended sequence byte and DATA, sent high byte first and not stuffed.
#pragma once

#include <cstddef>
#include <vector>

#include "platform/SupportDefs.h"

namespace wire {

using Bytes = std::vector<uint8>;

// Which family's stuffing and sequence numbering a frame uses.
enum class Variant { Series3, Series5 };

enum class FrameType : uint8 { Ack = 0, Disc = 1, Req = 2, Data = 3 };

// Sequence values of type-2 (connect) frames.
constexpr uint16 kReqSeq = 0;     // Series 3 connect request
constexpr uint16 kReqReqSeq = 1;  // Series 5 family connect request (1-3 accepted)
constexpr uint16 kReqReqLastSeq = 3;
constexpr uint16 kReqConSeq = 4;  // Series 5 family connect reply (4-6 accepted)
constexpr uint16 kReqConLastSeq = 6;

// Largest DATA before stuffing.
constexpr size_t kMaxFrameData = 300;
// Sequence numbers wrap at these values.
constexpr uint16 kSeries3SeqModulus = 8;
constexpr uint16 kSeries5SeqModulus = 2048;

struct Frame {
    FrameType type = FrameType::Ack;
    uint16 seq = 0;
    Bytes data;
    bool operator==(const Frame&) const = default;
};

// CRC-16/XMODEM: polynomial 0x1021, initial 0, no reflection, no final XOR.
uint16 Crc16(const uint8* data, size_t size, uint16 crc = 0);

// Appends the frame's bytes on the wire. A sequence above 7 (Series 5 family data and acks
// only) takes the extended byte. Data longer than kMaxFrameData is the caller's fault; it is
// cut there.
void EncodeFrame(const Frame& frame, Variant variant, Bytes& out);
Bytes EncodeFrame(const Frame& frame, Variant variant);

// Takes the line's bytes in pieces of any size and yields every good frame. Junk between
// frames, bad CRCs, bad escapes and over-long frames are counted and skipped; the decoder
// hunts for the next start. 10 04 decodes as 03 whatever the family (harmless on a Series 3
// line, which never sends it).
class FrameDecoder {
public:
    void Feed(const uint8* data, size_t size, std::vector<Frame>& frames);
    void Reset();

    uint64 BadCrcs() const { return fBadCrcs; }
    uint64 BadFrames() const { return fBadFrames; }  // bad escape, too long, too short

private:
    enum class State { Hunt, Sync1, Sync2, Body, Escape, Crc1, Crc2 };
    void Finish(std::vector<Frame>& frames);

    State fState = State::Hunt;
    Bytes fBody;  // unstuffed CS [ext] DATA
    uint16 fCrc = 0;
    uint64 fBadCrcs = 0;
    uint64 fBadFrames = 0;
};

}  // namespace wire
