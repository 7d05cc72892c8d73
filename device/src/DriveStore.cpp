#include "DriveStore.h"

#include <dirent.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <cctype>

#include "HostFolders.h"

namespace handheld {

DriveStore::DriveStore(const DriveSetup& setup, const NameRules& rules)
    : fSetup(setup), fRules(rules) {
    while (fSetup.folder.size() > 1 && fSetup.folder.back() == '/') fSetup.folder.pop_back();
}

std::string DriveStore::DisplayName(const std::string& hostName) const {
    return fRules.StoredName(hostName);
}

bool DriveStore::Stat(const std::string& hostPath, const std::string& name, EntryInfo& info) const {
    struct stat st;
    if (lstat(hostPath.c_str(), &st) != 0) return false;
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) return false;
    info = EntryInfo();
    info.name = DisplayName(name);
    if (S_ISDIR(st.st_mode)) {
        info.attributes |= RFSV_ATTR_DIRECTORY;
    } else {
        // Files beyond 4 GiB cannot be told on the wire; they show their low 32 bits.
        info.size = static_cast<uint32>(st.st_size);
    }
    if ((st.st_mode & S_IWUSR) && !IsReadOnly()) info.attributes |= RFSV_ATTR_WRITABLE;
    if (st.st_mode & S_IXUSR && !S_ISDIR(st.st_mode)) info.attributes |= RFSV_ATTR_EXECUTABLE;
    info.mtime = static_cast<uint32>(st.st_mtime);
    return true;
}

namespace {

// Folders whose names are kept; past it all are forgotten (a handheld's tree is small).
constexpr size_t kMaxIndexedFolders = 256;
// A folder changed this recently may change again within the clock's granularity without
// its modification time moving: such a reading is not trusted at the next request. (The
// service's own changes are: one made behind its back in that same instant is the price.)
constexpr int64 kSettledNanoseconds = 50 * 1000 * 1000;

std::string Folded(const std::string& name) {
    std::string out = name;
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

bool Settled(const timespec& mtime) {
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    int64 age = (static_cast<int64>(now.tv_sec) - mtime.tv_sec) * 1000000000 +
                (now.tv_nsec - mtime.tv_nsec);
    return age > kSettledNanoseconds;
}

}  // namespace

bool DriveStore::Current(const FolderIndex& index, const struct stat& st) {
    return index.device == st.st_dev && index.inode == st.st_ino &&
           index.mtime.tv_sec == st.st_mtim.tv_sec && index.mtime.tv_nsec == st.st_mtim.tv_nsec;
}

bool DriveStore::ReadFolder(const std::string& hostDirectory, const struct stat& st,
                            FolderIndex& index) const {
    DIR* dir = opendir(hostDirectory.c_str());
    if (dir == nullptr) return false;
    index = FolderIndex();
    index.device = st.st_dev;
    index.inode = st.st_ino;
    index.mtime = st.st_mtim;
    while (dirent* entry = readdir(dir)) {
        std::string hostName = entry->d_name;
        if (fRules.IsValidName(hostName)) index.byFolded[Folded(hostName)].push_back(hostName);
    }
    closedir(dir);
    return true;
}

std::string DriveStore::FindHostName(const std::string& hostDirectory,
                                     const std::string& name) const {
    struct stat st;
    if (stat(hostDirectory.c_str(), &st) != 0) return {};
    std::lock_guard<std::mutex> guard(fIndexLock);
    auto it = fIndexes.find(hostDirectory);
    if (it == fIndexes.end() || !it->second.trusted || !Current(it->second, st)) {
        if (it == fIndexes.end() && fIndexes.size() >= kMaxIndexedFolders) fIndexes.clear();
        FolderIndex& fresh = fIndexes[hostDirectory];
        if (!ReadFolder(hostDirectory, st, fresh)) {
            fIndexes.erase(hostDirectory);
            return {};
        }
        fresh.trusted = Settled(st.st_mtim);
        it = fIndexes.find(hostDirectory);
    }
    const FolderIndex* index = &it->second;
    auto found = index->byFolded.find(Folded(name));
    if (found == index->byFolded.end()) return {};
    // An exact match wins over a match that differs in case.
    for (const std::string& hostName : found->second)
        if (hostName == name) return hostName;
    return found->second.front();
}

void DriveStore::NoteAdded(const std::string& hostDirectory, const std::string& hostName) const {
    struct stat st;
    std::lock_guard<std::mutex> guard(fIndexLock);
    auto it = fIndexes.find(hostDirectory);
    if (it == fIndexes.end()) return;
    if (stat(hostDirectory.c_str(), &st) != 0 || !fRules.IsValidName(hostName)) {
        fIndexes.erase(it);
        return;
    }
    std::vector<std::string>& names = it->second.byFolded[Folded(hostName)];
    if (std::find(names.begin(), names.end(), hostName) == names.end()) names.push_back(hostName);
    it->second.mtime = st.st_mtim;
    it->second.trusted = true;
}

void DriveStore::NoteRemoved(const std::string& hostDirectory, const std::string& hostName) const {
    struct stat st;
    std::lock_guard<std::mutex> guard(fIndexLock);
    auto it = fIndexes.find(hostDirectory);
    if (it == fIndexes.end()) return;
    if (stat(hostDirectory.c_str(), &st) != 0) {
        fIndexes.erase(it);
        return;
    }
    auto names = it->second.byFolded.find(Folded(hostName));
    if (names != it->second.byFolded.end()) {
        std::erase(names->second, hostName);
        if (names->second.empty()) it->second.byFolded.erase(names);
    }
    it->second.mtime = st.st_mtim;
    it->second.trusted = true;
}

void DriveStore::NoteGone(const std::string& hostPath) const {
    std::lock_guard<std::mutex> guard(fIndexLock);
    std::erase_if(fIndexes, [&](const auto& entry) {
        const std::string& folder = entry.first;
        return folder == hostPath || folder.compare(0, hostPath.size() + 1, hostPath + "/") == 0;
    });
}

int16 DriveStore::Resolve(const std::vector<std::string>& components, Resolved& out) const {
    out = Resolved();
    std::string directory = fSetup.folder;
    if (components.empty()) {
        out.hostPath = directory;
        out.parentPath = directory;
        out.exists = Stat(directory, "", out.info) && out.info.IsDirectory();
        return out.exists ? RFSV_OK : RFSV_NO_SUCH_DEVICE;
    }
    for (size_t i = 0; i < components.size(); ++i) {
        const std::string& name = components[i];
        if (!fRules.IsValidName(name) || NameRules::HasWildcard(name)) return RFSV_BAD_NAME;
        std::string hostName = FindHostName(directory, name);
        bool last = i + 1 == components.size();
        if (!last) {
            EntryInfo info;
            if (hostName.empty() || !Stat(directory + "/" + hostName, hostName, info) ||
                !info.IsDirectory())
                return RFSV_NO_SUCH_DIRECTORY;
            directory += "/" + hostName;
            continue;
        }
        out.parentPath = directory;
        if (!hostName.empty() && Stat(directory + "/" + hostName, hostName, out.info)) {
            out.exists = true;
            out.name = hostName;
        } else {
            out.name = name;
        }
        out.hostPath = directory + "/" + out.name;
    }
    return RFSV_OK;
}

std::vector<EntryInfo> DriveStore::List(const std::string& hostDirectory) const {
    std::vector<EntryInfo> entries;
    DIR* dir = opendir(hostDirectory.c_str());
    if (dir == nullptr) return entries;
    while (dirent* entry = readdir(dir)) {
        std::string hostName = entry->d_name;
        if (!fRules.IsValidName(hostName)) continue;
        EntryInfo info;
        if (Stat(hostDirectory + "/" + hostName, hostName, info)) entries.push_back(info);
    }
    closedir(dir);
    std::sort(entries.begin(), entries.end(),
              [](const EntryInfo& a, const EntryInfo& b) { return a.name < b.name; });
    return entries;
}

uint32 DriveStore::FreeBytes() const { return handheld::FreeBytes(fSetup); }

}  // namespace handheld
