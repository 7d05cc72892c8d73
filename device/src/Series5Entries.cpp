// Entries through the Series 5 file service: delete, rename, make and remove folders, and
// the attributes and modification time of an entry.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "KeepFolderTime.h"
#include "Series5Names.h"
#include "Series5Session.h"
#include "platform/Series5Wire.h"

namespace handheld {

using namespace epoc;

int32 Series5Session::Delete(PayloadReader& in) {
    Target target;
    int32 status = ResolveChangeable(in, target);
    if (status != kOk) return status;
    const Entry& entry = target.entry;
    if (entry.directory || entry.readOnly) return kAccessDenied;
    if (IsOpen(entry.hostPath)) return kInUse;
    KeepFolderTime keep(entry.hostPath);
    return unlink(entry.hostPath.c_str()) == 0 ? kOk : StatusFromErrno(errno);
}

int32 Series5Session::Rename(PayloadReader& in, bool replace) {
    Target from, to;
    int32 status = ResolveText(in, from);
    if (status != kOk) return status;
    status = ResolveText(in, to);
    if (status != kOk) return status;
    if (!from.exists) return kNotFound;
    if (from.drive != to.drive) return kNotSupported;
    if (from.drive->IsReadOnly()) return kAccessDenied;
    const std::string& fromPath = from.entry.hostPath;
    bool same = to.exists && to.entry.hostPath == fromPath;
    if (to.exists && !same && (!replace || to.entry.directory || from.entry.directory))
        return kExists;
    if (IsOpen(fromPath) || (to.exists && IsOpen(to.entry.hostPath))) return kInUse;
    // A folder cannot move below itself.
    if (from.entry.directory &&
        to.entry.hostPath.compare(0, fromPath.size() + 1, fromPath + "/") == 0)
        return kAccessDenied;
    std::string destination = to.entry.hostPath;
    if (same) {
        // A change of case only: the new name is the one asked for.
        std::string parent = fromPath.substr(0, fromPath.rfind('/'));
        destination = parent + "/" + Series5HostName(to.asked);
    }
    KeepFolderTime keepFrom(fromPath), keepTo(destination);
    return rename(fromPath.c_str(), destination.c_str()) == 0 ? kOk : StatusFromErrno(errno);
}

int32 Series5Session::MkdirAll(PayloadReader& in) {
    std::string text;
    Parsed parsed;
    if (!in.ReadCountedString(text)) return kGeneral;
    int32 status = Parse(text, parsed);
    if (status != kOk) return status;
    if (parsed.drive->IsReadOnly()) return kAccessDenied;
    if (parsed.names.empty()) return kExists;
    std::string folder = parsed.drive->folder;
    for (size_t i = 0; i < parsed.names.size(); i++) {
        Entry entry;
        bool last = i + 1 == parsed.names.size();
        if (Find(folder, parsed.names[i], *parsed.drive, entry)) {
            if (!entry.directory) return last ? kExists : kPathNotFound;
            if (last) return kExists;
            folder = entry.hostPath;
            continue;
        }
        folder += "/" + Series5HostName(parsed.names[i]);
        KeepFolderTime keep(folder);
        if (mkdir(folder.c_str(), 0755) != 0) return StatusFromErrno(errno);
    }
    return kOk;
}

int32 Series5Session::Rmdir(PayloadReader& in) {
    Target target;
    int32 status = ResolveExisting(in, target);
    if (status != kOk) return status;
    const Entry& entry = target.entry;
    if (!entry.directory) return kNotFound;
    if (entry.wire.empty() || target.drive->IsReadOnly()) return kAccessDenied;
    KeepFolderTime keep(entry.hostPath);
    if (rmdir(entry.hostPath.c_str()) == 0) return kOk;
    // Entries the handheld does not show (names beyond its code page) keep it full too.
    return errno == ENOTEMPTY || errno == EEXIST ? static_cast<int32>(kInUse)
                                                 : StatusFromErrno(errno);
}

int32 Series5Session::SetAttributes(PayloadReader& in) {
    uint32 set, clear;
    if (!in.ReadLong(set) || !in.ReadLong(clear)) return kGeneral;
    Target target;
    int32 status = ResolveChangeable(in, target);
    if (status != kOk) return status;
    const std::string& hostPath = target.entry.hostPath;
    struct stat st;
    if (stat(hostPath.c_str(), &st) != 0) return StatusFromErrno(errno);
    mode_t mode = st.st_mode & 07777;
    if (set & kAttrReadOnly) mode &= ~static_cast<mode_t>(0222);
    if (clear & kAttrReadOnly) mode |= S_IWUSR;
    return chmod(hostPath.c_str(), mode) == 0 ? kOk : StatusFromErrno(errno);
}

int32 Series5Session::Attributes(PayloadReader& in, Bytes& data) {
    Target target;
    int32 status = ResolveExisting(in, target);
    if (status != kOk) return status;
    const Entry& entry = target.entry;
    AppendLong(data, (entry.directory ? kAttrDirectory : kAttrArchive) |
                         (entry.readOnly ? uint32{kAttrReadOnly} : 0u));
    return kOk;
}

int32 Series5Session::SetModified(PayloadReader& in) {
    uint32 low, high;
    if (!in.ReadLong(low) || !in.ReadLong(high)) return kGeneral;
    Target target;
    int32 status = ResolveChangeable(in, target);
    if (status != kOk) return status;
    timespec times[2];
    times[0].tv_nsec = UTIME_OMIT;
    times[1] = Series5HostTime((static_cast<uint64>(high) << 32) | low);
    return utimensat(AT_FDCWD, target.entry.hostPath.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0
               ? kOk
               : StatusFromErrno(errno);
}

int32 Series5Session::Modified(PayloadReader& in, Bytes& data) {
    Target target;
    int32 status = ResolveExisting(in, target);
    if (status != kOk) return status;
    AppendLong(data, static_cast<uint32>(target.entry.modified));
    AppendLong(data, static_cast<uint32>(target.entry.modified >> 32));
    return kOk;
}

}  // namespace handheld
