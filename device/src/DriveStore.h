// The files of one drive, kept in a host folder. Names on the drive map to host names
// without regard to case; entries a drive of this kind could not hold (bad names, links,
// devices) stay invisible, so no request can reach anything outside the folder.
#pragma once

#include <sys/stat.h>

#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "NameRules.h"
#include "device/DriveSetup.h"

namespace handheld {

struct EntryInfo {
    std::string name;  // as the device shows it
    uint16 attributes = 0;
    uint32 size = 0;
    uint32 mtime = 0;
    bool IsDirectory() const { return (attributes & RFSV_ATTR_DIRECTORY) != 0; }
};

// Where a device path leads on the host.
struct Resolved {
    std::string hostPath;    // full host path of the entry (existing or to be made)
    std::string parentPath;  // host path of the directory that holds it
    std::string name;        // host name of an existing entry, else the name as asked
    bool exists = false;
    EntryInfo info;  // valid when it exists
};

class DriveStore {
public:
    DriveStore(const DriveSetup& setup, const NameRules& rules);

    const DriveSetup& Setup() const { return fSetup; }
    std::string DeviceName() const { return std::string(1, fSetup.letter) + ":"; }
    bool IsReadOnly() const { return fSetup.IsReadOnly(); }

    // Follows `components` from the drive's root. Every component but the last must be an
    // existing directory (else RFSV_NO_SUCH_DIRECTORY); every one must be a valid name (else
    // RFSV_BAD_NAME). An empty list resolves to the root itself.
    int16 Resolve(const std::vector<std::string>& components, Resolved& out) const;
    // The visible entries of a host directory, in name order.
    std::vector<EntryInfo> List(const std::string& hostDirectory) const;
    bool Stat(const std::string& hostPath, const std::string& name, EntryInfo& info) const;

    // The service's own changes to a folder's names, so that a large folder is not read
    // again after each of them.
    void NoteAdded(const std::string& hostDirectory, const std::string& hostName) const;
    void NoteRemoved(const std::string& hostDirectory, const std::string& hostName) const;
    // A folder that was removed or moved: what was known below it goes.
    void NoteGone(const std::string& hostPath) const;

    uint32 FreeBytes() const;
    const NameRules& Rules() const { return fRules; }

private:
    // The host name in `hostDirectory` that stands for `name`, or empty.
    std::string FindHostName(const std::string& hostDirectory, const std::string& name) const;
    std::string DisplayName(const std::string& hostName) const;

    // The names of one host folder by their upper-case form, valid while the folder's
    // identity and modification time stay as they were when it was read.
    struct FolderIndex {
        dev_t device = 0;
        ino_t inode = 0;
        timespec mtime{};
        bool trusted = false;  // read when settled, or kept up to date by the service itself
        std::unordered_map<std::string, std::vector<std::string>> byFolded;
    };
    static bool Current(const FolderIndex& index, const struct stat& st);
    bool ReadFolder(const std::string& hostDirectory, const struct stat& st,
                    FolderIndex& index) const;

    DriveSetup fSetup;
    NameRules fRules;
    mutable std::mutex fIndexLock;
    mutable std::unordered_map<std::string, FolderIndex> fIndexes;
};

}  // namespace handheld
