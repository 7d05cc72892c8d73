// Directory listings of the Series 5 file service, and the entry record they and the remote
// entry request share.
#include <fcntl.h>
#include <unistd.h>

#include "Series5Names.h"
#include "Series5Session.h"
#include "platform/Series5Wire.h"

namespace handheld {

using namespace epoc;

namespace {

// Read dir replies stay below the family's frame limit.
constexpr size_t kMaxDirReply = 2048;

}  // namespace

void Series5Session::AppendEntry(const Entry& entry, bool uids, Bytes& data) {
    while (data.size() % 4 != 0) data.push_back(0);  // the reply's 8-byte header keeps this aligned
    std::string shortName = Series5ShortName(entry.wire);
    uint32 attributes = entry.directory ? kAttrDirectory : kAttrArchive;
    if (entry.readOnly) attributes |= kAttrReadOnly;
    uint32 uid[3] = {0, 0, 0};
    if (uids && !entry.directory) {
        int fd = open(entry.hostPath.c_str(), O_RDONLY);
        uint8 head[12];
        if (fd >= 0 && read(fd, head, sizeof head) == static_cast<ssize_t>(sizeof head))
            for (int i = 0; i < 3; i++) uid[i] = BytesToUlong(head + 4 * i);
        if (fd >= 0) close(fd);
    }
    AppendLong(data, static_cast<uint32>(shortName.size()));
    AppendLong(data, attributes);
    AppendLong(data, static_cast<uint32>(entry.size));
    AppendLong(data, static_cast<uint32>(entry.modified));
    AppendLong(data, static_cast<uint32>(entry.modified >> 32));
    for (uint32 value : uid) AppendLong(data, value);
    AppendLong(data, static_cast<uint32>(entry.wire.size()));
    data.insert(data.end(), entry.wire.begin(), entry.wire.end());
    if (!shortName.empty()) {
        while (data.size() % 4 != 0) data.push_back(0);
        data.insert(data.end(), shortName.begin(), shortName.end());
    }
}

int32 Series5Session::OpenDir(PayloadReader& in, Bytes& data) {
    uint32 attributes;
    std::string text, pattern, folder;
    Parsed parsed;
    if (!in.ReadLong(attributes) || !in.ReadCountedString(text)) return kGeneral;
    int32 status = Parse(text, parsed, &pattern);
    if (status != kOk) return status;
    Entry dir;
    bool exists;
    if (parsed.names.empty()) {
        folder = parsed.drive->folder;
    } else {
        status = Resolve(parsed, folder, dir, exists);
        if (status != kOk) return status;
        if (!exists || !dir.directory) return kPathNotFound;
        folder = dir.hostPath;
    }
    Open open;
    open.directory = true;
    open.drive = parsed.drive;
    open.uids = (attributes & kAttrWithUids) != 0;
    for (Entry& entry : List(folder, *parsed.drive)) {
        if (entry.directory && !(attributes & kAttrDirectory)) continue;
        if (Series5Matches(entry.wire, pattern)) open.listing.push_back(entry);
    }
    return AddHandle(std::move(open), data);
}

int32 Series5Session::ReadDir(PayloadReader& in, Bytes& data) {
    uint32 handle;
    if (!in.ReadLong(handle)) return kGeneral;
    Open* open = FindHandle(handle, true);
    if (open == nullptr) return kBadHandle;
    if (open->next >= open->listing.size()) return kEndOfFile;
    // The reply data start 8 bytes into the reply, so offsets within them align alike.
    while (open->next < open->listing.size()) {
        Bytes trial = data;
        AppendEntry(open->listing[open->next], open->uids, trial);
        if (!data.empty() && trial.size() > kMaxDirReply) break;
        data.swap(trial);
        open->next++;
    }
    return kOk;
}

int32 Series5Session::RemoteEntry(PayloadReader& in, Bytes& data) {
    Target target;
    int32 status = ResolveText(in, target);
    if (status != kOk) return status;
    if (!target.exists || target.entry.wire.empty()) return kNotFound;
    AppendEntry(target.entry, true, data);
    return kOk;
}

}  // namespace handheld
