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

    int16 Fopen(uint32 owner, PayloadReader& in, Bytes& data);
    int16 Fclose(PayloadReader& in);
    int16 Fread(PayloadReader& in, Bytes& data);
    int16 Fdirread(PayloadReader& in, Bytes& data);
    int16 Fdeviceread(PayloadReader& in, Bytes& data);
    int16 Fwrite(PayloadReader& in);
    int16 Fseek(PayloadReader& in, Bytes& data);
    int16 Rename(PayloadReader& in);
    int16 Delete(PayloadReader& in);
    int16 Finfo(PayloadReader& in, Bytes& data);
    int16 Mkdir(PayloadReader& in);
    int16 Fdeviceinfo(PayloadReader& in, Bytes& data);
    int16 Sfdate(PayloadReader& in);

    int16 OpenFile(uint32 owner, uint16 mode, const std::string& path, Bytes& data);
    int16 OpenDirectory(uint32 owner, const std::string& path, Bytes& data);
    int16 AddHandle(Open open, Bytes& data);
    Open* FindHandle(uint16 handle, Open::Kind kind);
    // The drive of a parsed path, or null.
    DriveStore* FindDrive(char letter);
    int16 ParsePath(const std::string& text, DevicePath& path, DriveStore*& drive);
    bool IsOpen(const std::string& hostPath) const;
    void AppendDriveInfo(const DriveStore& drive, Bytes& data) const;
    void Release(Open& open);

    NameRules fRules;
    std::vector<std::unique_ptr<DriveStore>> fDrives;
    mutable std::mutex fLock;
    std::map<uint16, Open> fHandles;
    uint16 fNextHandle = 1;
    uint32 fNextOwner = 1;
};

}  // namespace handheld
