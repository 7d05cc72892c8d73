#include "device/PacketTrace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/ByteOrder.h"
#include "platform/NameTable.h"

namespace handheld {

namespace {

bigtime_t Now() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

constexpr NamedValue<TraceEvent> kTraceEvents[] = {
    {TraceEvent::Connect, "connect"},    {TraceEvent::ConnectReply, "connect-reply"},
    {TraceEvent::NoServer, "no-server"}, {TraceEvent::Request, "request"},
    {TraceEvent::Reply, "reply"},        {TraceEvent::Disconnect, "disconnect"},
    {TraceEvent::Unknown, "unknown"},    {TraceEvent::Frame, "frame"},
    {TraceEvent::Fault, "fault"},        {TraceEvent::LinkDown, "link-down"},
};

const char* TraceEventName(TraceEvent event) { return NameOf(kTraceEvents, event); }

constexpr NamedValue<TraceDir> kTraceDirs[] = {
    {TraceDir::Out, "out"},
    {TraceDir::In, "in"},
    {TraceDir::Drop, "drop"},
};

const char* TraceDirName(TraceDir dir) { return NameOf(kTraceDirs, dir); }

PacketTrace::PacketTrace() : fStart(Now()) {}

PacketTrace::~PacketTrace() {
    if (fOwnsFile && fFile != nullptr) fclose(fFile);
}

bool PacketTrace::SetFile(const std::string& path) {
    std::lock_guard<std::mutex> guard(fLock);
    if (fOwnsFile && fFile != nullptr) fclose(fFile);
    fFile = nullptr;
    fOwnsFile = false;
    if (path.empty()) return true;
    if (path == "-") {
        fFile = stderr;
        return true;
    }
    // Appended to; never through a symbolic link, and only a regular file (a FIFO without a
    // reader would hold the link up). New files are private: they hold the bytes of files.
    int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                  0600);
    if (fd < 0) return false;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        errno = EINVAL;
        return false;
    }
    fFile = fdopen(fd, "a");
    if (fFile == nullptr) close(fd);
    fOwnsFile = fFile != nullptr;
    return fFile != nullptr;
}

void PacketTrace::KeepRecords(bool keep) {
    std::lock_guard<std::mutex> guard(fLock);
    fKeep = keep;
}

std::string PacketTrace::FormatLine(const TraceRecord& record) {
    char head[128];
    snprintf(head, sizeof(head), "%.6f %s ch=%u %s len=%zu", record.time / 1e6,
             TraceDirName(record.dir), record.channel, TraceEventName(record.event),
             record.bytes.size());
    std::string line = head;
    if (!record.note.empty()) line += " [" + record.note + "]";
    static const char kHex[] = "0123456789abcdef";
    for (uint8 byte : record.bytes) {
        line += ' ';
        line += kHex[byte >> 4];
        line += kHex[byte & 15];
    }
    return line;
}

void PacketTrace::Record(TraceDir dir, uint16 channel, TraceEvent event, const uint8* bytes,
                         size_t size, const std::string& note) {
    std::lock_guard<std::mutex> guard(fLock);
    if (event == TraceEvent::Request && dir == TraceDir::Out && size >= 2 && bytes != nullptr)
        ++fRequestsByChannelOpcode[{channel, BytesToUword(bytes)}];
    ++fEventsByChannel[{static_cast<int>(event), channel}];
    if (fFile == nullptr && !fKeep) return;
    TraceRecord record{Now() - fStart, dir, channel, event, {}, note};
    if (bytes != nullptr) record.bytes.assign(bytes, bytes + size);
    if (fFile != nullptr) {
        std::string line = FormatLine(record);
        fprintf(fFile, "%s\n", line.c_str());
        fflush(fFile);
    }
    if (fKeep) fRecords.push_back(std::move(record));
}

uint32 PacketTrace::CountRequests(uint16 opcode) const {
    std::lock_guard<std::mutex> guard(fLock);
    uint32 total = 0;
    for (const auto& [key, count] : fRequestsByChannelOpcode)
        if (key.second == opcode) total += count;
    return total;
}

uint32 PacketTrace::CountRequests(uint16 channel, uint16 opcode) const {
    std::lock_guard<std::mutex> guard(fLock);
    auto it = fRequestsByChannelOpcode.find({channel, opcode});
    return it == fRequestsByChannelOpcode.end() ? 0 : it->second;
}

uint32 PacketTrace::CountEvents(TraceEvent event) const {
    std::lock_guard<std::mutex> guard(fLock);
    uint32 total = 0;
    for (const auto& [key, count] : fEventsByChannel)
        if (key.first == static_cast<int>(event)) total += count;
    return total;
}

uint32 PacketTrace::CountEvents(TraceEvent event, uint16 channel) const {
    std::lock_guard<std::mutex> guard(fLock);
    auto it = fEventsByChannel.find({static_cast<int>(event), channel});
    return it == fEventsByChannel.end() ? 0 : it->second;
}

void PacketTrace::Reset() {
    std::lock_guard<std::mutex> guard(fLock);
    fRecords.clear();
    fRequestsByChannelOpcode.clear();
    fEventsByChannel.clear();
}

std::vector<TraceRecord> PacketTrace::Records() const {
    std::lock_guard<std::mutex> guard(fLock);
    return fRecords;
}

}  // namespace handheld
