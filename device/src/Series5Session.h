// One channel's session with the simulated Series 5 file service: its open handles and the
// request handlers, which live in files by subject (paths, directories, files, entries, drives).
#pragma once

#include <map>
#include <string>
#include <vector>

#include "WireFormat.h"
#include "device/DriveSetup.h"
#include "device/Handheld.h"

namespace handheld {

class Series5Session : public Session {
public:
    explicit Series5Session(const std::vector<DriveSetup>& drives);
    ~Series5Session() override;

    bool Handle(const uint8* packet, size_t size, Bytes& reply) override;

private:
    struct Entry {
        std::string wire;      // name as the handheld shows it
        std::string hostPath;  // where it lives on the host
        bool directory = false;
        bool readOnly = false;
        uint64 size = 0;
        uint64 modified = 0;
    };

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

    // Where a path named in a request leads.
    struct Target {
        Entry entry;  // when it does not exist: its wire name and where it would go
        bool exists = false;
        const DriveSetup* drive = nullptr;
        std::string asked;  // the last element as the request spelt it
    };

    int32 Dispatch(uint16 request, PayloadReader& in, Bytes& data);
    static int32 StatusFromErrno(int error);

    // Drives (Series5Drives.cpp).
    const DriveSetup* FindDrive(char letter) const;
    int32 DriveList(Bytes& data) const;
    int32 DriveInfo(PayloadReader& in, Bytes& data) const;

    // Paths (Series5Paths.cpp).
    int32 Parse(const std::string& text, Parsed& out, std::string* pattern = nullptr) const;
    static bool StatEntry(const std::string& hostPath, const std::string& wire,
                          const DriveSetup& drive, Entry& entry);
    static std::vector<Entry> List(const std::string& folder, const DriveSetup& drive);
    static bool Find(const std::string& folder, const std::string& wire, const DriveSetup& drive,
                     Entry& found);
    int32 Resolve(const Parsed& path, std::string& folder, Entry& last, bool& exists) const;
    int32 ResolveText(PayloadReader& in, Target& target) const;
    // As ResolveText, and "not found" when the entry does not exist.
    int32 ResolveExisting(PayloadReader& in, Target& target) const;
    // As ResolveExisting, and "access denied" when its drive cannot be written.
    int32 ResolveChangeable(PayloadReader& in, Target& target) const;

    // Handles (Series5Session.cpp).
    bool IsOpen(const std::string& hostPath) const;
    Open* FindHandle(uint32 handle, bool directory);
    int32 AddHandle(Open open, Bytes& data);
    int32 Close(PayloadReader& in);

    // Directories (Series5Directories.cpp).
    static void AppendEntry(const Entry& entry, bool uids, Bytes& data);
    int32 OpenDir(PayloadReader& in, Bytes& data);
    int32 ReadDir(PayloadReader& in, Bytes& data);
    int32 RemoteEntry(PayloadReader& in, Bytes& data);

    // File contents (Series5Files.cpp). `how` holds the open(2) flags of the request.
    int32 OpenFile(PayloadReader& in, Bytes& data, int how);
    int32 Read(PayloadReader& in, Bytes& data);
    int32 Write(PayloadReader& in);
    int32 Seek(PayloadReader& in, Bytes& data);
    int32 SetSize(PayloadReader& in);

    // Entries and their attributes (Series5Entries.cpp).
    int32 Delete(PayloadReader& in);
    int32 Rename(PayloadReader& in, bool replace);
    int32 MkdirAll(PayloadReader& in);
    int32 Rmdir(PayloadReader& in);
    int32 SetAttributes(PayloadReader& in);
    int32 Attributes(PayloadReader& in, Bytes& data);
    int32 SetModified(PayloadReader& in);
    int32 Modified(PayloadReader& in, Bytes& data);

    std::vector<DriveSetup> fDrives;
    std::map<uint32, Open> fHandles;
    uint32 fNextHandle = 1;
};

}  // namespace handheld
