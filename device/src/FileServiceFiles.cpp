// Opening files and their contents through the Series 3 file service: FOPEN (which also opens
// directory listings and the device list), FCLOSE, FREAD, FWRITE and FSEEK.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "FileService.h"
#include "platform/Series3Wire.h"

namespace handheld {

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

int16 FileService::OpenFile(uint32 owner, uint16 mode, const std::string& text, Bytes& data) {
    NamedPath named;
    int16 status = ParsePath(text, named);
    if (status != RFSV_OK) return status;
    if (named.IsRoot() || named.path.trailingSeparator) return RFSV_BAD_NAME;
    DriveStore* drive = named.drive;
    const Resolved& target = named.target;
    status = named.Resolve();
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

int16 FileService::Fclose(uint32, PayloadReader& in, Bytes&) {
    uint16 handle;
    if (!in.ReadWord(handle)) return RFSV_BAD_ARGUMENT;
    auto it = fHandles.find(handle);
    if (it == fHandles.end()) return RFSV_BAD_HANDLE;
    Release(it->second);
    fHandles.erase(it);
    return RFSV_OK;
}

int16 FileService::Fread(uint32, PayloadReader& in, Bytes& data) {
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

int16 FileService::Fwrite(uint32, PayloadReader& in, Bytes&) {
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

int16 FileService::Fseek(uint32, PayloadReader& in, Bytes& data) {
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

}  // namespace handheld
