// The Series 3 remote file service "SYS$RFSV": drives backed by host folders, one handle
// table for the whole device. Each channel is a session; closing it closes its handles.
#pragma once

#include <map>
#include <memory>
#include <mutex>

#include "DriveStore.h"
#include "WireFormat.h"
#include "device/Handheld.h"

namespace handheld {

class FileService {
public:
    FileService(const std::vector<DriveSetup>& drives, bool relaxedNames);
    ~FileService();

    // Answers one request of session `owner`; always produces a reply.
    void Handle(uint32 owner, const uint8* packet, size_t size, Bytes& reply);
    void CloseAll(uint32 owner);
    void CloseEverything();
    size_t OpenHandles() const;

    std::unique_ptr<Session> OpenSession();

private:
    struct Open {
        enum class Kind { File, Directory, DeviceList } kind = Kind::File;
        uint32 owner = 0;
        int fd = -1;
        uint32 position = 0;
        bool update = false;    // opened with write access
        bool readOnly = false;  // file or medium refuses writes
        DriveStore* drive = nullptr;
        std::string hostPath;
        std::vector<EntryInfo> listing;
        size_t next = 0;
    };

    // A path named in a request: taken apart, its drive, and where it leads once resolved.
    struct NamedPath {
        DevicePath path;
        DriveStore* drive = nullptr;
        Resolved target;

        bool IsRoot() const { return path.components.empty(); }
        int16 Resolve() { return drive->Resolve(path.components, target); }
    };

    // Every request handler reads its fields from `in` and leaves its reply data in `data`.
    using Handler = int16 (FileService::*)(uint32 owner, PayloadReader& in, Bytes& data);
    struct HandlerEntry {
        uint16 opcode;
        Handler handler;
    };
    static const HandlerEntry kHandlers[];
    static int16 StatusFromErrno(int error);

    // Handles and paths (FileService.cpp).
    int16 AddHandle(Open open, Bytes& data);
    Open* FindHandle(uint16 handle, Open::Kind kind);
    bool IsOpen(const std::string& hostPath) const;
    void Release(Open& open);
    DriveStore* FindDrive(char letter);
    int16 ParsePath(const std::string& text, NamedPath& named);
    // Reads a path from the request and parses it; `unreadable` when there is none.
    int16 ReadPath(PayloadReader& in, NamedPath& named, int16 unreadable = RFSV_BAD_ARGUMENT);
    // As ReadPath, with `rootStatus` for a path that names the drive's root and not an entry.
    int16 ReadEntryPath(PayloadReader& in, NamedPath& named, int16 rootStatus);
    // As ReadPath, then resolved; "not found" when the entry does not exist.
    int16 ReadExistingPath(PayloadReader& in, NamedPath& named,
                           int16 unreadable = RFSV_BAD_ARGUMENT);

    // Opening and the contents of files (FileServiceFiles.cpp).
    int16 Fopen(uint32 owner, PayloadReader& in, Bytes& data);
    int16 OpenFile(uint32 owner, uint16 mode, const std::string& path, Bytes& data);
    int16 Fclose(uint32 owner, PayloadReader& in, Bytes& data);
    int16 Fread(uint32 owner, PayloadReader& in, Bytes& data);
    int16 Fwrite(uint32 owner, PayloadReader& in, Bytes& data);
    int16 Fseek(uint32 owner, PayloadReader& in, Bytes& data);

    // Directory listings (FileServiceDirectories.cpp).
    static void AppendEntryHeader(const EntryInfo& entry, Bytes& data);
    int16 OpenDirectory(uint32 owner, const std::string& path, Bytes& data);
    int16 Fdirread(uint32 owner, PayloadReader& in, Bytes& data);

    // Entries (FileServiceEntries.cpp).
    int16 Finfo(uint32 owner, PayloadReader& in, Bytes& data);
    int16 Rename(uint32 owner, PayloadReader& in, Bytes& data);
    int16 Delete(uint32 owner, PayloadReader& in, Bytes& data);
    int16 Mkdir(uint32 owner, PayloadReader& in, Bytes& data);
    int16 Sfdate(uint32 owner, PayloadReader& in, Bytes& data);

    // Drives (FileServiceDrives.cpp).
    void AppendDriveInfo(const DriveStore& drive, Bytes& data) const;
    int16 Fdeviceread(uint32 owner, PayloadReader& in, Bytes& data);
    int16 Fdeviceinfo(uint32 owner, PayloadReader& in, Bytes& data);

    NameRules fRules;
    std::vector<std::unique_ptr<DriveStore>> fDrives;
    mutable std::mutex fLock;
    std::map<uint16, Open> fHandles;
    uint16 fNextHandle = 1;
    uint32 fNextOwner = 1;
};

}  // namespace handheld
