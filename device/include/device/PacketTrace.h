// The packet trace: one line per packet that passes the host, in either direction, with its
// time, channel, direction, event and bytes in hex. Lines go to a file when one is set and
// are kept in memory for tests when asked; counts by event, channel and opcode are always kept.
//
// Line format (fields separated by blanks; scripts can split on them):
//   <seconds since start, 6 decimals> <dir> ch=<channel> <event> len=<bytes> [<hex bytes>]
// dir is "out" (desktop to device), "in" (device to desktop) or "drop" (not delivered).
#pragma once

#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/SupportDefs.h"

namespace handheld {

enum class TraceDir { Out, In, Drop };

enum class TraceEvent {
    Connect,       // connect request (its bytes: reply port, pattern)
    ConnectReply,  // the channel granted
    NoServer,      // connect for a server the device lacks: no answer
    Request,       // channel packet to a server
    Reply,         // the server's reply packet
    Disconnect,    // disconnect request
    Unknown,       // a message of an unknown code, or for a closed channel
    Fault,         // a fault struck this reply
    LinkDown,      // the link went down
    Frame,         // a link-layer frame on the serial line (note: type, seq, length)
};

const char* TraceEventName(TraceEvent event);
const char* TraceDirName(TraceDir dir);

struct TraceRecord {
    bigtime_t time;  // microseconds since the trace started
    TraceDir dir;
    uint16 channel;
    TraceEvent event;
    std::vector<uint8> bytes;
    std::string note;
};

class PacketTrace {
public:
    PacketTrace();
    ~PacketTrace();

    // Appends lines to `path` ("-" is standard error); empty stops writing lines.
    bool SetFile(const std::string& path);
    // Keeps every record in memory for Records().
    void KeepRecords(bool keep);

    void Record(TraceDir dir, uint16 channel, TraceEvent event, const uint8* bytes, size_t size,
                const std::string& note = {});

    // Requests sent on any channel with this opcode (the first little-endian word).
    uint32 CountRequests(uint16 opcode) const;
    // Requests sent on one channel with this opcode.
    uint32 CountRequests(uint16 channel, uint16 opcode) const;
    uint32 CountEvents(TraceEvent event) const;
    uint32 CountEvents(TraceEvent event, uint16 channel) const;
    // Forgets counts and kept records (the file keeps its lines).
    void Reset();
    std::vector<TraceRecord> Records() const;

    // The text of one record as it is written to the file, without a newline.
    static std::string FormatLine(const TraceRecord& record);

private:
    mutable std::mutex fLock;
    bigtime_t fStart;
    FILE* fFile = nullptr;
    bool fOwnsFile = false;
    bool fKeep = false;
    std::vector<TraceRecord> fRecords;
    std::map<std::pair<uint16, uint16>, uint32> fRequestsByChannelOpcode;
    std::map<std::pair<int, uint16>, uint32> fEventsByChannel;
};

}  // namespace handheld
