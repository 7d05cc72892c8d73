#include "Series5Session.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "Series5Service.h"
#include "platform/Series5Wire.h"

namespace handheld {

using namespace epoc;

namespace {

constexpr size_t kMaxHandles = 64;

}  // namespace

Series5Session::Series5Session(const std::vector<DriveSetup>& drives) : fDrives(drives) {
    for (DriveSetup& drive : fDrives)
        while (drive.folder.size() > 1 && drive.folder.back() == '/') drive.folder.pop_back();
}

Series5Session::~Series5Session() {
    for (auto& [handle, open] : fHandles)
        if (open.fd >= 0) close(open.fd);
}

bool Series5Session::Handle(const uint8* packet, size_t size, Bytes& reply) {
    uint16 request = size >= 2 ? BytesToUword(packet) : 0;
    uint16 operation = size >= 4 ? BytesToUword(packet + 2) : 0;
    reply.clear();
    AppendWord(reply, kResponseCode);
    AppendWord(reply, operation);
    AppendLong(reply, 0);
    Bytes data;
    int32 status = static_cast<int32>(kNotSupported);
    if (size >= 4) {
        // Each request reads its own fields; a short request is a general failure.
        PayloadReader in(packet + 4, size - 4);
        status = Dispatch(request, in, data);
    }
    LongToBytes(static_cast<uint32>(status), reply.data() + 4);
    if (status == kOk) reply.insert(reply.end(), data.begin(), data.end());
    return true;
}

int32 Series5Session::Dispatch(uint16 request, PayloadReader& in, Bytes& data) {
    switch (request) {
        case kDriveList:
            return DriveList(data);
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

int32 Series5Session::StatusFromErrno(int error) {
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

bool Series5Session::IsOpen(const std::string& hostPath) const {
    for (const auto& [handle, open] : fHandles)
        if (!open.directory && open.hostPath == hostPath) return true;
    return false;
}

Series5Session::Open* Series5Session::FindHandle(uint32 handle, bool directory) {
    auto found = fHandles.find(handle);
    if (found == fHandles.end() || found->second.directory != directory) return nullptr;
    return &found->second;
}

int32 Series5Session::AddHandle(Open open, Bytes& data) {
    if (fHandles.size() >= kMaxHandles) {
        if (open.fd >= 0) close(open.fd);
        return kInUse;
    }
    uint32 handle = fNextHandle++;
    fHandles[handle] = std::move(open);
    AppendLong(data, handle);
    return kOk;
}

int32 Series5Session::Close(PayloadReader& in) {
    uint32 handle;
    if (!in.ReadLong(handle)) return kGeneral;
    auto found = fHandles.find(handle);
    if (found == fHandles.end()) return kBadHandle;
    if (found->second.fd >= 0) close(found->second.fd);
    fHandles.erase(found);
    return kOk;
}

std::unique_ptr<Session> MakeSeries5Session(const std::vector<DriveSetup>& drives) {
    return std::make_unique<Series5Session>(drives);
}

}  // namespace handheld
