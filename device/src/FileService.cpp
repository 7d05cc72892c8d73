#include "FileService.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/Series3Wire.h"

namespace handheld {

namespace {

constexpr size_t kMaxHandles = 64;

// The status of a host call that failed, as the device would report it.
int16 StatusFromErrno(int error) {
    switch (error) {
        case ENOENT:
            return RFSV_NOT_FOUND;
        case EEXIST:
            return RFSV_EXISTS;
        case ENOTEMPTY:
            return RFSV_ACCESS_DENIED;
        case EACCES:
        case EPERM:
            return RFSV_ACCESS_DENIED;
        case ENOSPC:
        case EDQUOT:
            return RFSV_DISK_FULL;
        case EROFS:
            return RFSV_WRITE_PROTECTED;
        case ENAMETOOLONG:
            return RFSV_BAD_NAME;
        case ENOTDIR:
            return RFSV_NO_SUCH_DIRECTORY;
        default:
            return RFSV_GENERAL_FAILURE;
    }
}

void AppendEntryHeader(const EntryInfo& entry, Bytes& data) {
    AppendWord(data, 0);
    AppendWord(data, entry.attributes);
    AppendLong(data, entry.size);
    AppendLong(data, entry.mtime);
    AppendLong(data, 0);
}

class RfsvSession : public Session {
public:
    RfsvSession(FileService& service, uint32 owner) : fService(service), fOwner(owner) {}
    ~RfsvSession() override { fService.CloseAll(fOwner); }
    bool Handle(const uint8* packet, size_t size, Bytes& reply) override {
        fService.Handle(fOwner, packet, size, reply);
        return true;
    }

private:
    FileService& fService;
    uint32 fOwner;
};

}  // namespace

FileService::FileService(const std::vector<DriveSetup>& drives, bool relaxedNames)
    : fRules(relaxedNames) {
    for (const DriveSetup& setup : drives)
        fDrives.push_back(std::make_unique<DriveStore>(setup, fRules));
}

FileService::~FileService() { CloseEverything(); }

std::unique_ptr<Session> FileService::OpenSession() {
    uint32 owner;
    {
        std::lock_guard<std::mutex> guard(fLock);
        owner = fNextOwner++;
    }
    return std::make_unique<RfsvSession>(*this, owner);
}

void FileService::Release(Open& open) {
    if (open.fd >= 0) close(open.fd);
    open.fd = -1;
}

void FileService::CloseAll(uint32 owner) {
    std::lock_guard<std::mutex> guard(fLock);
    for (auto it = fHandles.begin(); it != fHandles.end();) {
        if (it->second.owner == owner) {
            Release(it->second);
            it = fHandles.erase(it);
        } else {
            ++it;
        }
    }
}

void FileService::CloseEverything() {
    std::lock_guard<std::mutex> guard(fLock);
    for (auto& [handle, open] : fHandles) Release(open);
    fHandles.clear();
}

size_t FileService::OpenHandles() const {
    std::lock_guard<std::mutex> guard(fLock);
    return fHandles.size();
}

void FileService::Handle(uint32 owner, const uint8* packet, size_t size, Bytes& reply) {
    std::lock_guard<std::mutex> guard(fLock);
    Bytes data;
    int16 status = RFSV_BAD_ARGUMENT;
    if (packet != nullptr && size >= 4) {
        uint16 opcode = BytesToUword(packet);
        size_t length = BytesToUword(packet + 2);
        // A length beyond the bytes that came is a broken request, not a reason to read on.
        if (length <= size - 4) {
            PayloadReader in(packet + 4, length);
            switch (opcode) {
                case FOPEN:
                    status = Fopen(owner, in, data);
                    break;
                case FCLOSE:
                    status = Fclose(in);
                    break;
                case FREAD:
                    status = Fread(in, data);
                    break;
                case FDIRREAD:
                    status = Fdirread(in, data);
                    break;
                case FDEVICEREAD:
                    status = Fdeviceread(in, data);
                    break;
                case FWRITE:
                    status = Fwrite(in);
                    break;
                case FSEEK:
                    status = Fseek(in, data);
                    break;
                case RENAME:
                    status = Rename(in);
                    break;
                case DELETE:
                    status = Delete(in);
                    break;
                case FINFO:
                    status = Finfo(in, data);
                    break;
                case MKDIR:
                    status = Mkdir(in);
                    break;
                case FDEVICEINFO:
                    status = Fdeviceinfo(in, data);
                    break;
                case SFDATE:
                    status = Sfdate(in);
                    break;
                default:
                    status = RFSV_NOT_SUPPORTED;
                    break;
            }
        }
    }
    if (status != RFSV_OK) data.clear();
    reply.clear();
    AppendWord(reply, RFSV_REPLY_CODE);
    AppendWord(reply, static_cast<uint16>(2 + data.size()));
    AppendWord(reply, static_cast<uint16>(status));
    reply.insert(reply.end(), data.begin(), data.end());
}

DriveStore* FileService::FindDrive(char letter) {
    for (auto& drive : fDrives)
        if (std::toupper(static_cast<unsigned char>(drive->Setup().letter)) == letter)
            return drive.get();
    return nullptr;
}

int16 FileService::ParsePath(const std::string& text, DevicePath& path, DriveStore*& drive) {
    int16 status = ParseDevicePath(text, path);
    if (status != RFSV_OK) return status;
    drive = FindDrive(path.drive);
    return drive != nullptr ? RFSV_OK : RFSV_NO_SUCH_DEVICE;
}

bool FileService::IsOpen(const std::string& hostPath) const {
    for (const auto& [handle, open] : fHandles)
        if (open.kind == Open::Kind::File && open.hostPath == hostPath) return true;
    return false;
}

int16 FileService::AddHandle(Open open, Bytes& data) {
    if (fHandles.size() >= kMaxHandles) {
        Release(open);
        return RFSV_TOO_MANY_OPEN;
    }
    // Handle numbers climb and wrap so that a closed handle is not handed out again at once.
    while (fHandles.count(fNextHandle) != 0 || fNextHandle == 0 || fNextHandle > 0x7FFF)
        fNextHandle = fNextHandle >= 0x7FFF ? 1 : fNextHandle + 1;
    uint16 handle = fNextHandle;
    fNextHandle = fNextHandle >= 0x7FFF ? 1 : fNextHandle + 1;
    fHandles.emplace(handle, std::move(open));
    AppendWord(data, handle);
    return RFSV_OK;
}

FileService::Open* FileService::FindHandle(uint16 handle, Open::Kind kind) {
    auto it = fHandles.find(handle);
    if (it == fHandles.end() || it->second.kind != kind) return nullptr;
    return &it->second;
}

int16 FileService::Fopen(uint32 owner, PayloadReader& in, Bytes& data) {
    uint16 mode;
    if (!in.ReadWord(mode)) return RFSV_BAD_ARGUMENT;
    if ((mode & RFSV_FORMAT_MASK) == RFSV_FORMAT_DEVICE_LIST) {
        Open open;
        open.kind = Open::Kind::DeviceList;
        open.owner = owner;
        return AddHandle(std::move(open), data);
    }
    std::string path;
    if (!in.ReadString(path)) return RFSV_BAD_NAME;
    if ((mode & RFSV_FORMAT_MASK) == RFSV_FORMAT_DIRECTORY) return OpenDirectory(owner, path, data);
    if ((mode & RFSV_FORMAT_MASK) != 0) return RFSV_BAD_ARGUMENT;
    return OpenFile(owner, mode, path, data);
}

int16 FileService::OpenDirectory(uint32 owner, const std::string& text, Bytes& data) {
    DevicePath path;
    DriveStore* drive;
    int16 status = ParsePath(text, path, drive);
    if (status != RFSV_OK) return status;
    std::string pattern = "*.*";
    if (!path.trailingSeparator && !path.components.empty()) {
        pattern = path.components.back();
        path.components.pop_back();
    }
    Resolved dir;
    status = drive->Resolve(path.components, dir);
    if (status == RFSV_BAD_NAME || status == RFSV_NO_SUCH_DEVICE) return status;
    if (status != RFSV_OK || !dir.exists || !dir.info.IsDirectory()) return RFSV_NO_SUCH_DIRECTORY;
    Open open;
    open.kind = Open::Kind::Directory;
    open.owner = owner;
    open.drive = drive;
    for (EntryInfo& entry : drive->List(dir.hostPath))
        if (NameRules::MatchesPattern(entry.name, pattern)) open.listing.push_back(entry);
    return AddHandle(std::move(open), data);
}

int16 FileService::OpenFile(uint32 owner, uint16 mode, const std::string& text, Bytes& data) {
    DevicePath path;
    DriveStore* drive;
    int16 status = ParsePath(text, path, drive);
    if (status != RFSV_OK) return status;
    if (path.components.empty() || path.trailingSeparator) return RFSV_BAD_NAME;
    Resolved target;
    status = drive->Resolve(path.components, target);
    if (status != RFSV_OK) return status;
    if (target.exists && target.info.IsDirectory()) return RFSV_ACCESS_DENIED;

    uint16 action = mode & RFSV_OPEN_ACTION_MASK;
    bool fileReadOnly = target.exists && !(target.info.attributes & RFSV_ATTR_WRITABLE);
    Open open;
    open.kind = Open::Kind::File;
    open.owner = owner;
    open.drive = drive;
    open.update = (mode & RFSV_OPEN_UPDATE) != 0;
    bool create = false;
    bool truncate = false;
    switch (action) {
        case RFSV_OPEN_EXISTING:
            if (!target.exists) return RFSV_NOT_FOUND;
            break;
        case RFSV_OPEN_CREATE:
            if (target.exists) return RFSV_EXISTS;
            create = true;
            break;
        case RFSV_OPEN_REPLACE:
            if (target.exists) {
                if (drive->IsReadOnly()) return RFSV_WRITE_PROTECTED;
                if (fileReadOnly) return RFSV_READ_ONLY_FILE;
                truncate = true;
            } else {
                create = true;
            }
            break;
        case RFSV_OPEN_APPEND:
            create = !target.exists;
            break;
        default:
            return RFSV_BAD_ARGUMENT;
    }
    if (create && drive->IsReadOnly()) return RFSV_WRITE_PROTECTED;

    std::string hostPath = target.hostPath;
    int flags = O_CLOEXEC | O_NOFOLLOW;
    // Read-only files and media still open for update; their writes are refused one by one,
    // as the handheld does.
    open.readOnly = drive->IsReadOnly() || fileReadOnly;
    bool hostWrite = open.update && !open.readOnly;
    if (create) {
        hostPath = target.parentPath + "/" + drive->Rules().StoredName(target.name);
        flags |= O_CREAT | O_EXCL | O_RDWR;
    } else {
        flags |= (hostWrite || truncate) ? O_RDWR : O_RDONLY;
        if (truncate) flags |= O_TRUNC;
    }
    int fd = ::open(hostPath.c_str(), flags, 0644);
    if (fd < 0) return StatusFromErrno(errno);
    if (create) drive->NoteAdded(target.parentPath, drive->Rules().StoredName(target.name));
    open.fd = fd;
    open.hostPath = hostPath;
    if (action == RFSV_OPEN_APPEND) {
        struct stat st;
        if (fstat(fd, &st) == 0) open.position = static_cast<uint32>(st.st_size);
    }
    return AddHandle(std::move(open), data);
}

int16 FileService::Fclose(PayloadReader& in) {
    uint16 handle;
    if (!in.ReadWord(handle)) return RFSV_BAD_ARGUMENT;
    auto it = fHandles.find(handle);
    if (it == fHandles.end()) return RFSV_BAD_HANDLE;
    Release(it->second);
    fHandles.erase(it);
    return RFSV_OK;
}

int16 FileService::Fread(PayloadReader& in, Bytes& data) {
    uint16 handle, count;
    if (!in.ReadWord(handle) || !in.ReadWord(count)) return RFSV_BAD_ARGUMENT;
    Open* open = FindHandle(handle, Open::Kind::File);
    if (open == nullptr) return RFSV_BAD_HANDLE;
    size_t wanted = std::min<size_t>(count, RFSV_MAX_READ_CHUNK);
    uint8 buffer[RFSV_MAX_READ_CHUNK];
    ssize_t n = pread(open->fd, buffer, wanted, open->position);
    if (n < 0) return StatusFromErrno(errno);
    if (n == 0 && wanted > 0) return RFSV_END_OF_FILE;
    open->position += static_cast<uint32>(n);
    data.insert(data.end(), buffer, buffer + n);
    return RFSV_OK;
}

int16 FileService::Fdirread(PayloadReader& in, Bytes& data) {
    uint16 handle;
    if (!in.ReadWord(handle)) return RFSV_BAD_ARGUMENT;
    Open* open = FindHandle(handle, Open::Kind::Directory);
    if (open == nullptr) return RFSV_BAD_HANDLE;
    if (open->next >= open->listing.size()) return RFSV_END_OF_FILE;
    // Two bytes precede the entries; each entry is a 16-byte header, the name and its NUL.
    AppendWord(data, 0);
    size_t replySize = 6 + data.size();
    while (open->next < open->listing.size()) {
        const EntryInfo& entry = open->listing[open->next];
        size_t entrySize = 17 + entry.name.size();
        if (replySize + entrySize > RFSV_MAX_DIRREAD_REPLY) break;
        AppendEntryHeader(entry, data);
        data.insert(data.end(), entry.name.begin(), entry.name.end());
        data.push_back(0);
        replySize += entrySize;
        ++open->next;
    }
    return RFSV_OK;
}

void FileService::AppendDriveInfo(const DriveStore& drive, Bytes& data) const {
    AppendWord(data, 0);  // reply offset 6: version of the record
    AppendWord(data, drive.Setup().ReportedMediaType());
    AppendWord(data, 0);  // reply offset 10: battery status, good
    AppendLong(data, drive.Setup().capacity);
    AppendLong(data, drive.FreeBytes());
    AppendText(data, drive.Setup().volumeName, RFSV_INFO_VOLUME_NAME_SIZE);
}

int16 FileService::Fdeviceread(PayloadReader& in, Bytes& data) {
    uint16 handle;
    if (!in.ReadWord(handle)) return RFSV_BAD_ARGUMENT;
    Open* open = FindHandle(handle, Open::Kind::DeviceList);
    if (open == nullptr) return RFSV_BAD_HANDLE;
    if (open->next >= fDrives.size()) return RFSV_END_OF_FILE;
    const DriveStore& drive = *fDrives[open->next++];
    AppendDriveInfo(drive, data);
    AppendText(data, drive.DeviceName(), 4);
    return RFSV_OK;
}

int16 FileService::Fwrite(PayloadReader& in) {
    uint16 handle;
    if (!in.ReadWord(handle)) return RFSV_BAD_ARGUMENT;
    Open* open = FindHandle(handle, Open::Kind::File);
    if (open == nullptr) return RFSV_BAD_HANDLE;
    if (open->readOnly) return RFSV_READ_ONLY_FILE;
    if (!open->update) return RFSV_ACCESS_DENIED;
    size_t count = in.Remaining();
    if (count == 0) return RFSV_OK;
    struct stat st;
    if (fstat(open->fd, &st) != 0) return StatusFromErrno(errno);
    uint64 size = static_cast<uint64>(st.st_size);
    uint64 end = static_cast<uint64>(open->position) + count;
    if (end > UINT32_MAX) return RFSV_DISK_FULL;
    uint64 growth = end > size ? end - size : 0;
    if (growth > open->drive->FreeBytes()) return RFSV_DISK_FULL;
    ssize_t n = pwrite(open->fd, in.Rest(), count, open->position);
    if (n < 0) return StatusFromErrno(errno);
    if (static_cast<size_t>(n) != count) return RFSV_DISK_FULL;
    open->position += static_cast<uint32>(n);
    return RFSV_OK;
}

int16 FileService::Fseek(PayloadReader& in, Bytes& data) {
    uint16 handle, mode;
    uint32 rawOffset;
    if (!in.ReadWord(handle) || !in.ReadLong(rawOffset) || !in.ReadWord(mode))
        return RFSV_BAD_ARGUMENT;
    Open* open = FindHandle(handle, Open::Kind::File);
    if (open == nullptr) return RFSV_BAD_HANDLE;
    int64 base;
    switch (mode) {
        case RFSV_SEEK_FROM_START:
            base = 0;
            break;
        case RFSV_SEEK_FROM_CURRENT:
            base = open->position;
            break;
        case RFSV_SEEK_FROM_END: {
            struct stat st;
            if (fstat(open->fd, &st) != 0) return StatusFromErrno(errno);
            base = st.st_size;
            break;
        }
        default:
            return RFSV_BAD_ARGUMENT;
    }
    int64 target = base + static_cast<int32>(rawOffset);
    if (target < 0 || target > static_cast<int64>(UINT32_MAX)) return RFSV_BAD_ARGUMENT;
    open->position = static_cast<uint32>(target);
    AppendLong(data, open->position);
    return RFSV_OK;
}

int16 FileService::Rename(PayloadReader& in) {
    std::string oldText, newText;
    if (!in.ReadString(oldText) || !in.ReadString(newText)) return RFSV_BAD_ARGUMENT;
    DevicePath oldPath, newPath;
    DriveStore* oldDrive;
    DriveStore* newDrive;
    int16 status = ParsePath(oldText, oldPath, oldDrive);
    if (status != RFSV_OK) return status;
    status = ParsePath(newText, newPath, newDrive);
    if (status != RFSV_OK) return status;
    if (oldDrive != newDrive) return RFSV_BAD_ARGUMENT;
    if (oldPath.components.empty() || newPath.components.empty()) return RFSV_ACCESS_DENIED;
    if (oldDrive->IsReadOnly()) return RFSV_WRITE_PROTECTED;
    Resolved from, to;
    status = oldDrive->Resolve(oldPath.components, from);
    if (status != RFSV_OK) return status;
    if (!from.exists) return RFSV_NOT_FOUND;
    status = newDrive->Resolve(newPath.components, to);
    if (status != RFSV_OK) return status;
    // A change of case only renames the entry onto itself.
    bool sameEntry = to.exists && to.hostPath == from.hostPath;
    if (to.exists && !sameEntry) return RFSV_EXISTS;
    std::string destination =
        to.parentPath + "/" + newDrive->Rules().StoredName(newPath.components.back());
    // A directory cannot move below itself.
    if (from.info.IsDirectory() &&
        destination.compare(0, from.hostPath.size() + 1, from.hostPath + "/") == 0)
        return RFSV_ACCESS_DENIED;
    if (::rename(from.hostPath.c_str(), destination.c_str()) != 0) return StatusFromErrno(errno);
    oldDrive->NoteRemoved(from.parentPath, from.name);
    newDrive->NoteAdded(to.parentPath, destination.substr(to.parentPath.size() + 1));
    if (from.info.IsDirectory()) oldDrive->NoteGone(from.hostPath);
    for (auto& [handle, open] : fHandles)
        if (open.hostPath == from.hostPath) open.hostPath = destination;
    return RFSV_OK;
}

int16 FileService::Delete(PayloadReader& in) {
    std::string text;
    if (!in.ReadString(text)) return RFSV_BAD_ARGUMENT;
    DevicePath path;
    DriveStore* drive;
    int16 status = ParsePath(text, path, drive);
    if (status != RFSV_OK) return status;
    if (path.components.empty()) return RFSV_ACCESS_DENIED;
    if (drive->IsReadOnly()) return RFSV_WRITE_PROTECTED;
    Resolved target;
    status = drive->Resolve(path.components, target);
    if (status != RFSV_OK) return status;
    if (!target.exists) return RFSV_NOT_FOUND;
    if (target.info.IsDirectory()) {
        if (rmdir(target.hostPath.c_str()) != 0) return StatusFromErrno(errno);
        drive->NoteRemoved(target.parentPath, target.name);
        drive->NoteGone(target.hostPath);
        return RFSV_OK;
    }
    if (path.trailingSeparator) return RFSV_NOT_FOUND;
    if (!(target.info.attributes & RFSV_ATTR_WRITABLE)) return RFSV_READ_ONLY_FILE;
    if (IsOpen(target.hostPath)) return RFSV_ACCESS_DENIED;  // in use
    if (unlink(target.hostPath.c_str()) != 0) return StatusFromErrno(errno);
    drive->NoteRemoved(target.parentPath, target.name);
    return RFSV_OK;
}

int16 FileService::Finfo(PayloadReader& in, Bytes& data) {
    std::string text;
    if (!in.ReadString(text)) return RFSV_BAD_ARGUMENT;
    DevicePath path;
    DriveStore* drive;
    int16 status = ParsePath(text, path, drive);
    if (status != RFSV_OK) return status;
    Resolved target;
    status = drive->Resolve(path.components, target);
    if (status != RFSV_OK) return status;
    if (!target.exists) return RFSV_NOT_FOUND;
    if (path.trailingSeparator && !target.info.IsDirectory()) return RFSV_NOT_FOUND;
    AppendEntryHeader(target.info, data);
    return RFSV_OK;
}

int16 FileService::Mkdir(PayloadReader& in) {
    std::string text;
    if (!in.ReadString(text)) return RFSV_BAD_ARGUMENT;
    DevicePath path;
    DriveStore* drive;
    int16 status = ParsePath(text, path, drive);
    if (status != RFSV_OK) return status;
    if (path.components.empty()) return RFSV_EXISTS;
    Resolved target;
    status = drive->Resolve(path.components, target);
    if (status != RFSV_OK) return status;
    if (target.exists) return RFSV_EXISTS;
    if (drive->IsReadOnly()) return RFSV_WRITE_PROTECTED;
    std::string hostPath = target.parentPath + "/" + drive->Rules().StoredName(target.name);
    if (::mkdir(hostPath.c_str(), 0755) != 0) return StatusFromErrno(errno);
    drive->NoteAdded(target.parentPath, drive->Rules().StoredName(target.name));
    return RFSV_OK;
}

int16 FileService::Fdeviceinfo(PayloadReader& in, Bytes& data) {
    std::string text;
    if (!in.ReadString(text)) return RFSV_BAD_ARGUMENT;
    DevicePath path;
    DriveStore* drive;
    int16 status = ParsePath(text, path, drive);
    if (status != RFSV_OK) return status;
    AppendDriveInfo(*drive, data);
    return RFSV_OK;
}

int16 FileService::Sfdate(PayloadReader& in) {
    uint32 time;
    std::string text;
    if (!in.ReadLong(time)) return RFSV_BAD_ARGUMENT;
    if (!in.ReadString(text)) return RFSV_BAD_NAME;
    DevicePath path;
    DriveStore* drive;
    int16 status = ParsePath(text, path, drive);
    if (status != RFSV_OK) return status;
    Resolved target;
    status = drive->Resolve(path.components, target);
    if (status != RFSV_OK) return status;
    if (!target.exists) return RFSV_NOT_FOUND;
    if (drive->IsReadOnly()) return RFSV_WRITE_PROTECTED;
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(time);
    times[1].tv_nsec = 0;
    if (utimensat(AT_FDCWD, target.hostPath.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
        return StatusFromErrno(errno);
    return RFSV_OK;
}

}  // namespace handheld
