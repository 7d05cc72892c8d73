// Entries through the Series 3 file service: FINFO, RENAME, DELETE, MKDIR and SFDATE.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "FileService.h"
#include "platform/Series3Wire.h"

namespace handheld {

int16 FileService::Finfo(uint32, PayloadReader& in, Bytes& data) {
    NamedPath named;
    int16 status = ReadExistingPath(in, named);
    if (status != RFSV_OK) return status;
    if (named.path.trailingSeparator && !named.target.info.IsDirectory()) return RFSV_NOT_FOUND;
    AppendEntryHeader(named.target.info, data);
    return RFSV_OK;
}

int16 FileService::Rename(uint32, PayloadReader& in, Bytes&) {
    std::string oldText, newText;
    if (!in.ReadString(oldText) || !in.ReadString(newText)) return RFSV_BAD_ARGUMENT;
    NamedPath oldName, newName;
    int16 status = ParsePath(oldText, oldName);
    if (status != RFSV_OK) return status;
    status = ParsePath(newText, newName);
    if (status != RFSV_OK) return status;
    DriveStore* drive = oldName.drive;
    if (drive != newName.drive) return RFSV_BAD_ARGUMENT;
    if (oldName.IsRoot() || newName.IsRoot()) return RFSV_ACCESS_DENIED;
    if (drive->IsReadOnly()) return RFSV_WRITE_PROTECTED;
    const Resolved& from = oldName.target;
    const Resolved& to = newName.target;
    status = oldName.Resolve();
    if (status != RFSV_OK) return status;
    if (!from.exists) return RFSV_NOT_FOUND;
    status = newName.Resolve();
    if (status != RFSV_OK) return status;
    // A change of case only renames the entry onto itself.
    bool sameEntry = to.exists && to.hostPath == from.hostPath;
    if (to.exists && !sameEntry) return RFSV_EXISTS;
    std::string destination =
        to.parentPath + "/" + drive->Rules().StoredName(newName.path.components.back());
    // A directory cannot move below itself.
    if (from.info.IsDirectory() &&
        destination.compare(0, from.hostPath.size() + 1, from.hostPath + "/") == 0)
        return RFSV_ACCESS_DENIED;
    if (::rename(from.hostPath.c_str(), destination.c_str()) != 0) return StatusFromErrno(errno);
    drive->NoteRemoved(from.parentPath, from.name);
    drive->NoteAdded(to.parentPath, destination.substr(to.parentPath.size() + 1));
    if (from.info.IsDirectory()) drive->NoteGone(from.hostPath);
    for (auto& [handle, open] : fHandles)
        if (open.hostPath == from.hostPath) open.hostPath = destination;
    return RFSV_OK;
}

int16 FileService::Delete(uint32, PayloadReader& in, Bytes&) {
    NamedPath named;
    int16 status = ReadEntryPath(in, named, RFSV_ACCESS_DENIED);
    if (status != RFSV_OK) return status;
    DriveStore* drive = named.drive;
    if (drive->IsReadOnly()) return RFSV_WRITE_PROTECTED;
    status = named.Resolve();
    if (status != RFSV_OK) return status;
    const Resolved& target = named.target;
    if (!target.exists) return RFSV_NOT_FOUND;
    if (target.info.IsDirectory()) {
        if (rmdir(target.hostPath.c_str()) != 0) return StatusFromErrno(errno);
        drive->NoteRemoved(target.parentPath, target.name);
        drive->NoteGone(target.hostPath);
        return RFSV_OK;
    }
    if (named.path.trailingSeparator) return RFSV_NOT_FOUND;
    if (!(target.info.attributes & RFSV_ATTR_WRITABLE)) return RFSV_READ_ONLY_FILE;
    if (IsOpen(target.hostPath)) return RFSV_ACCESS_DENIED;  // in use
    if (unlink(target.hostPath.c_str()) != 0) return StatusFromErrno(errno);
    drive->NoteRemoved(target.parentPath, target.name);
    return RFSV_OK;
}

int16 FileService::Mkdir(uint32, PayloadReader& in, Bytes&) {
    NamedPath named;
    int16 status = ReadEntryPath(in, named, RFSV_EXISTS);
    if (status != RFSV_OK) return status;
    status = named.Resolve();
    if (status != RFSV_OK) return status;
    DriveStore* drive = named.drive;
    const Resolved& target = named.target;
    if (target.exists) return RFSV_EXISTS;
    if (drive->IsReadOnly()) return RFSV_WRITE_PROTECTED;
    std::string storedName = drive->Rules().StoredName(target.name);
    if (::mkdir((target.parentPath + "/" + storedName).c_str(), 0755) != 0)
        return StatusFromErrno(errno);
    drive->NoteAdded(target.parentPath, storedName);
    return RFSV_OK;
}

int16 FileService::Sfdate(uint32, PayloadReader& in, Bytes&) {
    uint32 time;
    if (!in.ReadLong(time)) return RFSV_BAD_ARGUMENT;
    NamedPath named;
    int16 status = ReadExistingPath(in, named, RFSV_BAD_NAME);
    if (status != RFSV_OK) return status;
    if (named.drive->IsReadOnly()) return RFSV_WRITE_PROTECTED;
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(time);
    times[1].tv_nsec = 0;
    if (utimensat(AT_FDCWD, named.target.hostPath.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
        return StatusFromErrno(errno);
    return RFSV_OK;
}

}  // namespace handheld
