// Paths of the Series 5 file service: "C:\DIR\NAME" taken apart and followed through the host
// folders, where names are found without regard to case.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>

#include "Series5Names.h"
#include "Series5Session.h"
#include "platform/Series5Wire.h"

namespace handheld {

using namespace epoc;

// A trailing "\" is allowed. `pattern` takes a last element with wildcards.
int32 Series5Session::Parse(const std::string& text, Parsed& out, std::string* pattern) const {
    if (text.size() > kMaxPath) return kBadName;
    if (text.size() < 2 || text[1] != ':') return kBadName;
    out.drive = FindDrive(text[0]);
    if (out.drive == nullptr) return kNotReady;
    std::string rest = text.substr(2);
    if (!rest.empty() && rest[0] == '\\') rest.erase(0, 1);
    size_t start = 0;
    while (start < rest.size()) {
        size_t end = rest.find('\\', start);
        if (end == std::string::npos) end = rest.size();
        std::string name = rest.substr(start, end - start);
        bool last = end == rest.size();
        if (name.empty() && !last) return kBadName;
        if (!name.empty()) out.names.push_back(name);
        start = end + 1;
    }
    if (pattern != nullptr) {
        if (out.names.empty()) return kBadName;
        *pattern = out.names.back();
        out.names.pop_back();
    }
    for (const std::string& name : out.names)
        if (!Series5ValidName(name)) return kBadName;
    return kOk;
}

bool Series5Session::StatEntry(const std::string& hostPath, const std::string& wire,
                               const DriveSetup& drive, Entry& entry) {
    struct stat st;
    if (lstat(hostPath.c_str(), &st) != 0) return false;
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) return false;
    entry.wire = wire;
    entry.hostPath = hostPath;
    entry.directory = S_ISDIR(st.st_mode);
    entry.readOnly = !(st.st_mode & S_IWUSR) || drive.IsReadOnly();
    entry.size = entry.directory ? 0 : static_cast<uint64>(st.st_size);
    entry.modified = Series5Time(st.st_mtim);
    return true;
}

// The visible entries of a host folder: names the code page can carry, files and folders.
std::vector<Series5Session::Entry> Series5Session::List(const std::string& folder,
                                                        const DriveSetup& drive) {
    std::vector<Entry> entries;
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return entries;
    while (dirent* host = readdir(dir)) {
        std::string name = host->d_name, wire;
        if (name == "." || name == "..") continue;
        if (!Series5WireName(name, wire) || !Series5ValidName(wire)) continue;
        Entry entry;
        if (StatEntry(folder + "/" + name, wire, drive, entry)) entries.push_back(entry);
    }
    closedir(dir);
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        return Series5Fold(a.wire) < Series5Fold(b.wire);
    });
    return entries;
}

// The entry `wire` in a host folder, found without regard to case (an exact match wins).
bool Series5Session::Find(const std::string& folder, const std::string& wire,
                          const DriveSetup& drive, Entry& found) {
    bool any = false;
    for (Entry& entry : List(folder, drive)) {
        if (Series5Fold(entry.wire) != Series5Fold(wire)) continue;
        if (!any || entry.wire == wire) found = entry;
        any = true;
    }
    return any;
}

// Every element but the last must be a folder (else "path not found"); the last may be
// missing (`exists` false, `hostPath` where it would go).
int32 Series5Session::Resolve(const Parsed& path, std::string& folder, Entry& last,
                              bool& exists) const {
    folder = path.drive->folder;
    exists = false;
    if (path.names.empty()) {
        exists = StatEntry(folder, "", *path.drive, last);
        return exists ? kOk : kNotReady;
    }
    for (size_t i = 0; i + 1 < path.names.size(); i++) {
        Entry entry;
        if (!Find(folder, path.names[i], *path.drive, entry) || !entry.directory)
            return kPathNotFound;
        folder = entry.hostPath;
    }
    exists = Find(folder, path.names.back(), *path.drive, last);
    if (!exists) {
        last = Entry();
        last.wire = path.names.back();
        last.hostPath = folder + "/" + Series5HostName(path.names.back());
    }
    return kOk;
}

int32 Series5Session::ResolveText(PayloadReader& in, Target& target) const {
    std::string text, folder;
    Parsed parsed;
    if (!in.ReadCountedString(text)) return kGeneral;
    int32 status = Parse(text, parsed);
    if (status != kOk) return status;
    target.drive = parsed.drive;
    if (!parsed.names.empty()) target.asked = parsed.names.back();
    return Resolve(parsed, folder, target.entry, target.exists);
}

int32 Series5Session::ResolveExisting(PayloadReader& in, Target& target) const {
    int32 status = ResolveText(in, target);
    if (status != kOk) return status;
    return target.exists ? kOk : kNotFound;
}

int32 Series5Session::ResolveChangeable(PayloadReader& in, Target& target) const {
    int32 status = ResolveExisting(in, target);
    if (status != kOk) return status;
    return target.drive->IsReadOnly() ? kAccessDenied : kOk;
}

}  // namespace handheld
