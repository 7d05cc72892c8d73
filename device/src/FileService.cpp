#include "FileService.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>

#include "platform/Series3Wire.h"

namespace handheld {

namespace {

constexpr size_t kMaxHandles = 64;

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

const FileService::HandlerEntry FileService::kHandlers[] = {
    {FOPEN, &FileService::Fopen},
    {FCLOSE, &FileService::Fclose},
    {FREAD, &FileService::Fread},
    {FDIRREAD, &FileService::Fdirread},
    {FDEVICEREAD, &FileService::Fdeviceread},
    {FWRITE, &FileService::Fwrite},
    {FSEEK, &FileService::Fseek},
    {RENAME, &FileService::Rename},
    {DELETE, &FileService::Delete},
    {FINFO, &FileService::Finfo},
    {MKDIR, &FileService::Mkdir},
    {FDEVICEINFO, &FileService::Fdeviceinfo},
    {SFDATE, &FileService::Sfdate},
};

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
            status = RFSV_NOT_SUPPORTED;
            for (const HandlerEntry& entry : kHandlers) {
                if (entry.opcode != opcode) continue;
                status = (this->*entry.handler)(owner, in, data);
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

// The status of a host call that failed, as the device would report it.
int16 FileService::StatusFromErrno(int error) {
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

bool FileService::IsOpen(const std::string& hostPath) const {
    for (const auto& [handle, open] : fHandles)
        if (open.kind == Open::Kind::File && open.hostPath == hostPath) return true;
    return false;
}

DriveStore* FileService::FindDrive(char letter) {
    for (auto& drive : fDrives)
        if (std::toupper(static_cast<unsigned char>(drive->Setup().letter)) == letter)
            return drive.get();
    return nullptr;
}

int16 FileService::ParsePath(const std::string& text, NamedPath& named) {
    int16 status = ParseDevicePath(text, named.path);
    if (status != RFSV_OK) return status;
    named.drive = FindDrive(named.path.drive);
    return named.drive != nullptr ? RFSV_OK : RFSV_NO_SUCH_DEVICE;
}

int16 FileService::ReadPath(PayloadReader& in, NamedPath& named, int16 unreadable) {
    std::string text;
    if (!in.ReadString(text)) return unreadable;
    return ParsePath(text, named);
}

int16 FileService::ReadEntryPath(PayloadReader& in, NamedPath& named, int16 rootStatus) {
    int16 status = ReadPath(in, named);
    if (status != RFSV_OK) return status;
    return named.IsRoot() ? rootStatus : static_cast<int16>(RFSV_OK);
}

int16 FileService::ReadExistingPath(PayloadReader& in, NamedPath& named, int16 unreadable) {
    int16 status = ReadPath(in, named, unreadable);
    if (status != RFSV_OK) return status;
    status = named.Resolve();
    if (status != RFSV_OK) return status;
    return named.target.exists ? RFSV_OK : RFSV_NOT_FOUND;
}

}  // namespace handheld
