// File contents through the Series 5 file service: open, read, write, seek and set size.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "HostFolders.h"
#include "KeepFolderTime.h"
#include "Series5Session.h"
#include "platform/Series5Wire.h"

namespace handheld {

using namespace epoc;

int32 Series5Session::OpenFile(PayloadReader& in, Bytes& data, int how) {
    uint32 mode;
    if (!in.ReadLong(mode)) return kGeneral;
    Target target;
    int32 status = ResolveText(in, target);
    if (status != kOk) return status;
    const Entry& entry = target.entry;
    bool exists = target.exists;
    if (exists && entry.directory) return kAccessDenied;
    if (exists && (how & O_EXCL)) return kExists;
    if (!exists && !(how & O_CREAT)) return kNotFound;
    bool writable = (mode & kOpenReadWrite) != 0 || (how & O_CREAT);
    if (writable && (target.drive->IsReadOnly() || (exists && entry.readOnly)))
        return kAccessDenied;
    if (exists && (how & O_TRUNC) && IsOpen(entry.hostPath)) return kInUse;
    int flags = (writable ? O_RDWR : O_RDONLY) | how | O_NOFOLLOW;
    KeepFolderTime keep(entry.hostPath);
    int fd = open(entry.hostPath.c_str(), flags, 0644);
    if (fd < 0) return StatusFromErrno(errno);
    Open file;
    file.fd = fd;
    file.writable = writable;
    file.drive = target.drive;
    file.hostPath = entry.hostPath;
    return AddHandle(std::move(file), data);
}

int32 Series5Session::Read(PayloadReader& in, Bytes& data) {
    uint32 handle, length;
    if (!in.ReadLong(handle) || !in.ReadLong(length)) return kGeneral;
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

int32 Series5Session::Write(PayloadReader& in) {
    uint32 handle;
    if (!in.ReadLong(handle)) return kGeneral;
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

int32 Series5Session::Seek(PayloadReader& in, Bytes& data) {
    uint32 offset, handle, sense;
    if (!in.ReadLong(offset) || !in.ReadLong(handle) || !in.ReadLong(sense)) return kGeneral;
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

int32 Series5Session::SetSize(PayloadReader& in) {
    uint32 handle, size;
    if (!in.ReadLong(handle) || !in.ReadLong(size)) return kGeneral;
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

}  // namespace handheld
