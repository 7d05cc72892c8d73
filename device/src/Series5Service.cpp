#include "Series5Service.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <map>

#include "Series5Names.h"
#include "WireFormat.h"
#include "platform/Series5Wire.h"

namespace handheld {

namespace {

using namespace epoc;

constexpr size_t kMaxHandles = 64;
// Read dir replies stay below the family's frame limit.
constexpr size_t kMaxDirReply = 2048;

int32 StatusFromErrno(int error) {
    switch (error) {
        case ENOENT:
            return kNotFound;
        case EEXIST:
            return kExists;
        case ENOTEMPTY:
        case EBUSY:
            return kInUse;
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR:
            return kAccessDenied;
        case ENOSPC:
        case EDQUOT:
            return kDiskFull;
        case ENAMETOOLONG:
            return kBadName;
        case ENOTDIR:
            return kPathNotFound;
        default:
            return kGeneral;
    }
}

// A handheld's folders keep the time they were given when entries come and go in them (as
// on its FAT media); host folders would not, so their time is put back.
class KeepFolderTime {
public:
    explicit KeepFolderTime(const std::string& entryPath)
        : fFolder(entryPath.substr(0, entryPath.rfind('/'))) {
        fKept = stat(fFolder.c_str(), &fBefore) == 0;
    }
    ~KeepFolderTime() {
        if (!fKept) return;
        timespec times[2] = {fBefore.st_atim, fBefore.st_mtim};
        (void)utimensat(AT_FDCWD, fFolder.c_str(), times, AT_SYMLINK_NOFOLLOW);
    }
    KeepFolderTime(const KeepFolderTime&) = delete;
    KeepFolderTime& operator=(const KeepFolderTime&) = delete;

private:
    std::string fFolder;
    struct stat fBefore;
    bool fKept = false;
};

struct Entry {
    std::string wire;      // name as the handheld shows it
    std::string hostPath;  // where it lives on the host
    bool directory = false;
    bool readOnly = false;
    uint64 size = 0;
    uint64 modified = 0;
};

class Series5Session : public Session {
public:
    explicit Series5Session(const std::vector<DriveSetup>& drives) : fDrives(drives) {
        for (DriveSetup& drive : fDrives)
            while (drive.folder.size() > 1 && drive.folder.back() == '/') drive.folder.pop_back();
    }
    ~Series5Session() override {
        for (auto& [handle, open] : fHandles)
            if (open.fd >= 0) close(open.fd);
    }

    bool Handle(const uint8* packet, size_t size, Bytes& reply) override {
        uint16 request = size >= 2 ? BytesToUword(packet) : 0;
        uint16 operation = size >= 4 ? BytesToUword(packet + 2) : 0;
        reply.clear();
        AppendWord(reply, kResponseCode);
        AppendWord(reply, operation);
        AppendLong(reply, 0);
        Bytes data;
        int32 status = size >= 4 ? Dispatch(request, packet + 4, size - 4, data)
                                 : static_cast<int32>(kNotSupported);
        LongToBytes(static_cast<uint32>(status), reply.data() + 4);
        if (status == kOk) reply.insert(reply.end(), data.begin(), data.end());
        return true;
    }

private:
    struct Open {
        bool directory = false;
        int fd = -1;
        bool writable = false;
        uint64 position = 0;
        const DriveSetup* drive = nullptr;
        std::string hostPath;
        std::vector<Entry> listing;
        size_t next = 0;
        bool uids = false;
    };

    // A path taken apart: its drive and the wire names of its elements.
    struct Parsed {
        const DriveSetup* drive = nullptr;
        std::vector<std::string> names;
    };

    int32 Dispatch(uint16 request, const uint8* payload, size_t size, Bytes& data) {
        // Each request reads its own fields; a short request is a general failure.
        Reader in(payload, size);
        switch (request) {
            case kDriveList:
                for (size_t i = 0; i < kDriveCount; ++i)
                    data.push_back(FindDrive(static_cast<char>('A' + i)) != nullptr ? 1 : 0);
                return kOk;
            case kVolume:
                return DriveInfo(in, data);
            case kClose:
                return Close(in);
            case kOpenDir:
                return OpenDir(in, data);
            case kReadDir:
                return ReadDir(in, data);
            case kOpenFile:
                return OpenFile(in, data, 0);
            case kCreateFile:
                return OpenFile(in, data, O_CREAT | O_EXCL);
            case kReplaceFile:
                return OpenFile(in, data, O_CREAT | O_TRUNC);
            case kRead:
                return Read(in, data);
            case kWrite:
                return Write(in);
            case kSeek:
                return Seek(in, data);
            case kSetSize:
                return SetSize(in);
            case kDelete:
                return Delete(in);
            case kRemoteEntry:
                return RemoteEntry(in, data);
            case kRename:
                return Rename(in, false);
            case kReplace:
                return Rename(in, true);
            case kMkdirAll:
                return MkdirAll(in);
            case kRmdir:
                return Rmdir(in);
            case kSetAttributes:
                return SetAttributes(in);
            case kAttributes:
                return Attributes(in, data);
            case kSetModified:
                return SetModified(in);
            case kModified:
                return Modified(in, data);
            default:
                return kNotSupported;
        }
    }

    // Request fields: u32 and len(u16)-prefixed strings.
    class Reader {
    public:
        Reader(const uint8* data, size_t size) : fData(data), fSize(size) {}
        bool Long(uint32& value) {
            if (fSize - fPos < 4) return false;
            value = BytesToUlong(fData + fPos);
            fPos += 4;
            return true;
        }
        bool String(std::string& value) {
            if (fSize - fPos < 2) return false;
            uint16 length = BytesToUword(fData + fPos);
            if (fSize - fPos - 2 < length) return false;
            value.assign(reinterpret_cast<const char*>(fData + fPos + 2), length);
            fPos += 2 + length;
            return true;
        }
        const uint8* Rest() const { return fData + fPos; }
        size_t Remaining() const { return fSize - fPos; }

    private:
        const uint8* fData;
        size_t fSize;
        size_t fPos = 0;
    };

    const DriveSetup* FindDrive(char letter) const {
        for (const DriveSetup& drive : fDrives)
            if (toupper(static_cast<unsigned char>(drive.letter)) ==
                toupper(static_cast<unsigned char>(letter)))
                return &drive;
        return nullptr;
    }

    int32 DriveInfo(Reader& in, Bytes& data) {
        uint32 index;
        if (!in.Long(index) || index >= kDriveCount) return kNotReady;
        const DriveSetup* drive = FindDrive(static_cast<char>('A' + index));
        if (drive == nullptr) return kNotReady;
        AppendLong(data, drive->ReportedMediaType());
        AppendLong(data, 0);                            // battery
        AppendLong(data, drive->IsReadOnly() ? 1 : 0);  // drive attributes
        AppendLong(data, drive->IsReadOnly() ? 4 : 0);  // media attributes: write-protected
        AppendLong(data, 0x5EED0000u | static_cast<uint8>(drive->letter));
        AppendLong(data, drive->capacity);
        AppendLong(data, 0);
        AppendLong(data, FreeBytes(*drive));
        AppendLong(data, 0);
        std::string label;
        if (!Series5WireName(drive->volumeName, label)) label = drive->volumeName;
        AppendLong(data, static_cast<uint32>(label.size()));
        data.insert(data.end(), label.begin(), label.end());
        return kOk;
    }

    static uint64 FolderBytes(const std::string& path, int depth) {
        if (depth > 32) return 0;
        uint64 total = 0;
        DIR* dir = opendir(path.c_str());
        if (dir == nullptr) return 0;
        while (dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name == "." || name == "..") continue;
            struct stat st;
            std::string child = path + "/" + name;
            if (lstat(child.c_str(), &st) != 0) continue;
            if (S_ISREG(st.st_mode)) total += static_cast<uint64>(st.st_size);
            if (S_ISDIR(st.st_mode)) total += FolderBytes(child, depth + 1);
        }
        closedir(dir);
        return total;
    }
    uint32 FreeBytes(const DriveSetup& drive) const {
        uint64 used = FolderBytes(drive.folder, 0);
        return used >= drive.capacity ? 0 : static_cast<uint32>(drive.capacity - used);
    }

    // --- paths -------------------------------------------------------------------------------

    // "C:\DIR\NAME" (a trailing "\" allowed). `pattern` takes a last element with wildcards.
    int32 Parse(const std::string& text, Parsed& out, std::string* pattern = nullptr) {
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

    static bool StatEntry(const std::string& hostPath, const std::string& wire,
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
    static std::vector<Entry> List(const std::string& folder, const DriveSetup& drive) {
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
    static bool Find(const std::string& folder, const std::string& wire, const DriveSetup& drive,
                     Entry& found) {
        bool any = false;
        for (Entry& entry : List(folder, drive)) {
            if (Series5Fold(entry.wire) != Series5Fold(wire)) continue;
            if (!any || entry.wire == wire) found = entry;
            any = true;
        }
        return any;
    }

    // Follows a parsed path. Every element but the last must be a folder (else "path not
    // found"); the last may be missing (`exists` false, `hostPath` where it would go).
    int32 Resolve(const Parsed& path, std::string& folder, Entry& last, bool& exists) {
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

    int32 ResolveText(Reader& in, Entry& last, bool& exists, const DriveSetup** drive = nullptr,
                      std::string* asked = nullptr) {
        std::string text, folder;
        Parsed parsed;
        if (!in.String(text)) return kGeneral;
        int32 status = Parse(text, parsed);
        if (status != kOk) return status;
        if (drive != nullptr) *drive = parsed.drive;
        if (asked != nullptr && !parsed.names.empty()) *asked = parsed.names.back();
        return Resolve(parsed, folder, last, exists);
    }

    bool IsOpen(const std::string& hostPath) const {
        for (const auto& [handle, open] : fHandles)
            if (!open.directory && open.hostPath == hostPath) return true;
        return false;
    }

    Open* FindHandle(uint32 handle, bool directory) {
        auto found = fHandles.find(handle);
        if (found == fHandles.end() || found->second.directory != directory) return nullptr;
        return &found->second;
    }

    int32 AddHandle(Open open, Bytes& data) {
        if (fHandles.size() >= kMaxHandles) {
            if (open.fd >= 0) close(open.fd);
            return kInUse;
        }
        uint32 handle = fNextHandle++;
        fHandles[handle] = std::move(open);
        AppendLong(data, handle);
        return kOk;
    }

    static void AppendEntry(const Entry& entry, bool uids, Bytes& data) {
        while (data.size() % 4 != 0)
            data.push_back(0);  // the reply's 8-byte header keeps this aligned
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

    // --- requests ----------------------------------------------------------------------------

    int32 Close(Reader& in) {
        uint32 handle;
        if (!in.Long(handle)) return kGeneral;
        auto found = fHandles.find(handle);
        if (found == fHandles.end()) return kBadHandle;
        if (found->second.fd >= 0) close(found->second.fd);
        fHandles.erase(found);
        return kOk;
    }

    int32 OpenDir(Reader& in, Bytes& data) {
        uint32 attributes;
        std::string text, pattern, folder;
        Parsed parsed;
        if (!in.Long(attributes) || !in.String(text)) return kGeneral;
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

    int32 ReadDir(Reader& in, Bytes& data) {
        uint32 handle;
        if (!in.Long(handle)) return kGeneral;
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

    int32 OpenFile(Reader& in, Bytes& data, int how) {
        uint32 mode;
        if (!in.Long(mode)) return kGeneral;
        Entry entry;
        bool exists;
        const DriveSetup* drive = nullptr;
        int32 status = ResolveText(in, entry, exists, &drive);
        if (status != kOk) return status;
        if (exists && entry.directory) return kAccessDenied;
        if (exists && (how & O_EXCL)) return kExists;
        if (!exists && !(how & O_CREAT)) return kNotFound;
        bool writable = (mode & kOpenReadWrite) != 0 || (how & O_CREAT);
        if (writable && (drive->IsReadOnly() || (exists && entry.readOnly))) return kAccessDenied;
        if (exists && (how & O_TRUNC) && IsOpen(entry.hostPath)) return kInUse;
        int flags = (writable ? O_RDWR : O_RDONLY) | how | O_NOFOLLOW;
        KeepFolderTime keep(entry.hostPath);
        int fd = open(entry.hostPath.c_str(), flags, 0644);
        if (fd < 0) return StatusFromErrno(errno);
        Open file;
        file.fd = fd;
        file.writable = writable;
        file.drive = drive;
        file.hostPath = entry.hostPath;
        return AddHandle(std::move(file), data);
    }

    int32 Read(Reader& in, Bytes& data) {
        uint32 handle, length;
        if (!in.Long(handle) || !in.Long(length)) return kGeneral;
        Open* open = FindHandle(handle, false);
        if (open == nullptr) return kBadHandle;
        if (length > kMaxChunk) length = kMaxChunk;
        data.resize(length);
        ssize_t got = pread(open->fd, data.data(), length, static_cast<off_t>(open->position));
        if (got < 0) return StatusFromErrno(errno);
        data.resize(static_cast<size_t>(got));
        open->position += static_cast<uint64>(got);
        return kOk;
    }

    int32 Write(Reader& in) {
        uint32 handle;
        if (!in.Long(handle)) return kGeneral;
        Open* open = FindHandle(handle, false);
        if (open == nullptr) return kBadHandle;
        if (!open->writable) return kAccessDenied;
        size_t count = in.Remaining();
        if (count > kMaxChunk) return kGeneral;
        struct stat st;
        if (fstat(open->fd, &st) != 0) return kGeneral;
        uint64 end = open->position + count;
        if (end > static_cast<uint64>(st.st_size) &&
            end - static_cast<uint64>(st.st_size) > FreeBytes(*open->drive))
            return kDiskFull;
        ssize_t written = pwrite(open->fd, in.Rest(), count, static_cast<off_t>(open->position));
        if (written < 0) return StatusFromErrno(errno);
        if (static_cast<size_t>(written) != count) return kDiskFull;
        open->position = end;
        return kOk;
    }

    int32 Seek(Reader& in, Bytes& data) {
        uint32 offset, handle, sense;
        if (!in.Long(offset) || !in.Long(handle) || !in.Long(sense)) return kGeneral;
        Open* open = FindHandle(handle, false);
        if (open == nullptr) return kBadHandle;
        struct stat st;
        if (fstat(open->fd, &st) != 0) return kGeneral;
        int64 base = sense == 1   ? 0
                     : sense == 2 ? static_cast<int64>(open->position)
                     : sense == 3 ? static_cast<int64>(st.st_size)
                                  : -1;
        if (base < 0) return kGeneral;
        int64 target = base + static_cast<int32>(offset);
        if (target < 0) return kGeneral;
        open->position = static_cast<uint64>(target);
        AppendLong(data, static_cast<uint32>(target));
        return kOk;
    }

    int32 SetSize(Reader& in) {
        uint32 handle, size;
        if (!in.Long(handle) || !in.Long(size)) return kGeneral;
        Open* open = FindHandle(handle, false);
        if (open == nullptr) return kBadHandle;
        if (!open->writable) return kAccessDenied;
        struct stat st;
        if (fstat(open->fd, &st) != 0) return kGeneral;
        if (size > st.st_size && size - static_cast<uint64>(st.st_size) > FreeBytes(*open->drive))
            return kDiskFull;
        if (ftruncate(open->fd, size) != 0) return StatusFromErrno(errno);
        return kOk;
    }

    int32 Delete(Reader& in) {
        Entry entry;
        bool exists;
        const DriveSetup* drive;
        int32 status = ResolveText(in, entry, exists, &drive);
        if (status != kOk) return status;
        if (!exists) return kNotFound;
        if (entry.directory) return kAccessDenied;
        if (drive->IsReadOnly() || entry.readOnly) return kAccessDenied;
        if (IsOpen(entry.hostPath)) return kInUse;
        KeepFolderTime keep(entry.hostPath);
        return unlink(entry.hostPath.c_str()) == 0 ? kOk : StatusFromErrno(errno);
    }

    int32 RemoteEntry(Reader& in, Bytes& data) {
        Entry entry;
        bool exists;
        int32 status = ResolveText(in, entry, exists);
        if (status != kOk) return status;
        if (!exists || entry.wire.empty()) return kNotFound;
        AppendEntry(entry, true, data);
        return kOk;
    }

    int32 Rename(Reader& in, bool replace) {
        Entry from, to;
        bool fromExists, toExists;
        const DriveSetup *fromDrive, *toDrive;
        int32 status = ResolveText(in, from, fromExists, &fromDrive);
        if (status != kOk) return status;
        std::string asked;
        status = ResolveText(in, to, toExists, &toDrive, &asked);
        if (status != kOk) return status;
        if (!fromExists) return kNotFound;
        if (fromDrive != toDrive) return kNotSupported;
        if (fromDrive->IsReadOnly()) return kAccessDenied;
        bool same = toExists && to.hostPath == from.hostPath;
        if (toExists && !same && (!replace || to.directory || from.directory)) return kExists;
        if (IsOpen(from.hostPath) || (toExists && IsOpen(to.hostPath))) return kInUse;
        // A folder cannot move below itself.
        if (from.directory &&
            to.hostPath.compare(0, from.hostPath.size() + 1, from.hostPath + "/") == 0)
            return kAccessDenied;
        std::string target = to.hostPath;
        if (same) {
            // A change of case only: the new name is the one asked for.
            std::string parent = from.hostPath.substr(0, from.hostPath.rfind('/'));
            target = parent + "/" + Series5HostName(asked);
        }
        KeepFolderTime keepFrom(from.hostPath), keepTo(target);
        return rename(from.hostPath.c_str(), target.c_str()) == 0 ? kOk : StatusFromErrno(errno);
    }

    int32 MkdirAll(Reader& in) {
        std::string text;
        Parsed parsed;
        if (!in.String(text)) return kGeneral;
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

    int32 Rmdir(Reader& in) {
        Entry entry;
        bool exists;
        const DriveSetup* drive;
        int32 status = ResolveText(in, entry, exists, &drive);
        if (status != kOk) return status;
        if (!exists || !entry.directory) return kNotFound;
        if (entry.wire.empty() || drive->IsReadOnly()) return kAccessDenied;
        KeepFolderTime keep(entry.hostPath);
        if (rmdir(entry.hostPath.c_str()) == 0) return kOk;
        // Entries the handheld does not show (names beyond its code page) keep it full too.
        return errno == ENOTEMPTY || errno == EEXIST ? static_cast<int32>(kInUse)
                                                     : StatusFromErrno(errno);
    }

    int32 SetAttributes(Reader& in) {
        uint32 set, clear;
        if (!in.Long(set) || !in.Long(clear)) return kGeneral;
        Entry entry;
        bool exists;
        const DriveSetup* drive;
        int32 status = ResolveText(in, entry, exists, &drive);
        if (status != kOk) return status;
        if (!exists) return kNotFound;
        if (drive->IsReadOnly()) return kAccessDenied;
        struct stat st;
        if (stat(entry.hostPath.c_str(), &st) != 0) return StatusFromErrno(errno);
        mode_t mode = st.st_mode & 07777;
        if (set & kAttrReadOnly) mode &= ~static_cast<mode_t>(0222);
        if (clear & kAttrReadOnly) mode |= S_IWUSR;
        return chmod(entry.hostPath.c_str(), mode) == 0 ? kOk : StatusFromErrno(errno);
    }

    int32 Attributes(Reader& in, Bytes& data) {
        Entry entry;
        bool exists;
        int32 status = ResolveText(in, entry, exists);
        if (status != kOk) return status;
        if (!exists) return kNotFound;
        AppendLong(data, (entry.directory ? kAttrDirectory : kAttrArchive) |
                             (entry.readOnly ? uint32{kAttrReadOnly} : 0u));
        return kOk;
    }

    int32 SetModified(Reader& in) {
        uint32 low, high;
        if (!in.Long(low) || !in.Long(high)) return kGeneral;
        Entry entry;
        bool exists;
        const DriveSetup* drive;
        int32 status = ResolveText(in, entry, exists, &drive);
        if (status != kOk) return status;
        if (!exists) return kNotFound;
        if (drive->IsReadOnly()) return kAccessDenied;
        timespec times[2];
        times[0].tv_nsec = UTIME_OMIT;
        times[1] = Series5HostTime((static_cast<uint64>(high) << 32) | low);
        return utimensat(AT_FDCWD, entry.hostPath.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0
                   ? kOk
                   : StatusFromErrno(errno);
    }

    int32 Modified(Reader& in, Bytes& data) {
        Entry entry;
        bool exists;
        int32 status = ResolveText(in, entry, exists);
        if (status != kOk) return status;
        if (!exists) return kNotFound;
        AppendLong(data, static_cast<uint32>(entry.modified));
        AppendLong(data, static_cast<uint32>(entry.modified >> 32));
        return kOk;
    }

    std::vector<DriveSetup> fDrives;
    std::map<uint32, Open> fHandles;
    uint32 fNextHandle = 1;
};

}  // namespace

std::unique_ptr<Session> MakeSeries5Session(const std::vector<DriveSetup>& drives) {
    return std::make_unique<Series5Session>(drives);
}

}  // namespace handheld
