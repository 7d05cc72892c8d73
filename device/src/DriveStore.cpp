#include "DriveStore.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>

namespace handheld {

DriveStore::DriveStore(const DriveSetup& setup, const NameRules& rules) : fSetup(setup), fRules(rules) {
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
        info.attributes |= kAttrDirectory;
    } else {
        // Files beyond 4 GiB cannot be told on the wire; they show their low 32 bits.
        info.size = static_cast<uint32>(st.st_size);
    }
    if ((st.st_mode & S_IWUSR) && !IsReadOnly()) info.attributes |= kAttrWritable;
    if (st.st_mode & S_IXUSR && !S_ISDIR(st.st_mode)) info.attributes |= kAttrExecutable;
    info.mtime = static_cast<uint32>(st.st_mtime);
    return true;
}

std::string DriveStore::FindHostName(const std::string& hostDirectory,
                                     const std::string& name) const {
    DIR* dir = opendir(hostDirectory.c_str());
    if (dir == nullptr) return {};
    std::string found;
    while (dirent* entry = readdir(dir)) {
        std::string hostName = entry->d_name;
        if (!fRules.IsValidName(hostName)) continue;
        if (NameRules::SameName(hostName, name)) {
            // An exact match wins over a match that differs in case.
            if (found.empty() || hostName == name) found = hostName;
        }
    }
    closedir(dir);
    return found;
}

int16 DriveStore::Resolve(const std::vector<std::string>& components, Resolved& out) const {
    out = Resolved();
    std::string directory = fSetup.folder;
    if (components.empty()) {
        out.hostPath = directory;
        out.parentPath = directory;
        out.exists = Stat(directory, "", out.info) && out.info.IsDirectory();
        return out.exists ? kStatusOk : kStatusNoSuchDevice;
    }
    for (size_t i = 0; i < components.size(); ++i) {
        const std::string& name = components[i];
        if (!fRules.IsValidName(name) || NameRules::HasWildcard(name)) return kStatusBadName;
        std::string hostName = FindHostName(directory, name);
        bool last = i + 1 == components.size();
        if (!last) {
            EntryInfo info;
            if (hostName.empty() || !Stat(directory + "/" + hostName, hostName, info) ||
                !info.IsDirectory())
                return kStatusNoSuchDirectory;
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
    return kStatusOk;
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

namespace {

uint64 FolderBytes(const std::string& path, int depth) {
    // Deep trees are not what a handheld holds; the limit only guards against loops.
    if (depth > 32) return 0;
    uint64 total = 0;
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr) return 0;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        std::string child = path + "/" + name;
        struct stat st;
        if (lstat(child.c_str(), &st) != 0) continue;
        if (S_ISREG(st.st_mode))
            total += static_cast<uint64>(st.st_size);
        else if (S_ISDIR(st.st_mode))
            total += FolderBytes(child, depth + 1);
    }
    closedir(dir);
    return total;
}

}  // namespace

uint64 DriveStore::UsedBytes() const { return FolderBytes(fSetup.folder, 0); }

uint32 DriveStore::FreeBytes() const {
    uint64 used = UsedBytes();
    return used >= fSetup.capacity ? 0 : static_cast<uint32>(fSetup.capacity - used);
}

}  // namespace handheld
