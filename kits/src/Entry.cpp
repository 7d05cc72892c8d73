#include "kits/Entry.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "PathNames.h"
#include "kits/Directory.h"
#include "kits/Path.h"
#include "kits/StorageDefs.h"
#include "platform/Errors.h"

using namespace kits_private;

namespace {

char* CopyText(const char* text) { return text != nullptr ? strdup(text) : nullptr; }

// GetParent's body for either target: `target` set to the folder that holds the entry at `path`,
// whose state is `status`.
template <typename Target>
status_t SetToParent(status_t status, const std::string& path, Target* target) {
    if (target == nullptr) return B_BAD_VALUE;
    if (status != B_OK) return status;
    std::string parent;
    if (!ParentPath(path, &parent)) return B_ENTRY_NOT_FOUND;
    return target->SetTo(parent.c_str());
}

}  // namespace

// entry_ref ------------------------------------------------------------------------------------

entry_ref::entry_ref() : device(-1), directory(-1), name(nullptr), directoryPath(nullptr) {}

entry_ref::entry_ref(dev_t device, ino_t directory, const char* name)
    : device(device), directory(directory), name(CopyText(name)), directoryPath(nullptr) {}

entry_ref::entry_ref(const entry_ref& other)
    : device(other.device),
      directory(other.directory),
      name(CopyText(other.name)),
      directoryPath(CopyText(other.directoryPath)) {}

entry_ref& entry_ref::operator=(const entry_ref& other) {
    if (this == &other) return *this;
    free(name);
    free(directoryPath);
    device = other.device;
    directory = other.directory;
    name = CopyText(other.name);
    directoryPath = CopyText(other.directoryPath);
    return *this;
}

entry_ref::~entry_ref() {
    free(name);
    free(directoryPath);
}

status_t entry_ref::set_name(const char* newName) {
    char* copy = CopyText(newName);
    if (newName != nullptr && copy == nullptr) return B_NO_MEMORY;
    free(name);
    name = copy;
    return B_OK;
}

bool entry_ref::operator==(const entry_ref& other) const {
    if (device != other.device || directory != other.directory) return false;
    if (name == nullptr || other.name == nullptr) return name == other.name;
    return std::strcmp(name, other.name) == 0;
}

// BEntry ---------------------------------------------------------------------------------------

BEntry::BEntry() : fStatus(B_NO_INIT) {}

BEntry::BEntry(const char* path, bool traverse) : fStatus(B_NO_INIT) {
    (void)SetTo(path, traverse);
}

BEntry::BEntry(const BDirectory* directory, const char* path, bool traverse) : fStatus(B_NO_INIT) {
    (void)SetTo(directory, path, traverse);
}

BEntry::BEntry(const entry_ref* ref, bool traverse) : fStatus(B_NO_INIT) {
    (void)SetTo(ref, traverse);
}

BEntry::BEntry(const BEntry& other) = default;

BEntry& BEntry::operator=(const BEntry& other) = default;

BEntry::~BEntry() = default;

status_t BEntry::SetTo(const char* path, bool traverse) {
    Unset();
    std::string resolved;
    fStatus = ResolveEntryPath(CurrentDirectory(), path, traverse, &resolved);
    if (fStatus == B_OK) fPath = resolved;
    return fStatus;
}

status_t BEntry::SetTo(const BDirectory* directory, const char* path, bool traverse) {
    Unset();
    if (path != nullptr && path[0] == '/') return SetTo(path, traverse);
    if (directory == nullptr || directory->InitCheck() != B_OK) return fStatus = B_BAD_VALUE;
    std::string resolved;
    fStatus = ResolveEntryPath(directory->PathName(), path, traverse, &resolved);
    if (fStatus == B_OK) fPath = resolved;
    return fStatus;
}

status_t BEntry::SetTo(const entry_ref* ref, bool traverse) {
    Unset();
    if (ref == nullptr || ref->name == nullptr) return fStatus = B_BAD_VALUE;
    if (ref->directoryPath == nullptr) return fStatus = B_ENTRY_NOT_FOUND;
    std::string path = std::string(ref->directoryPath) + "/" + ref->name;
    return SetTo(path.c_str(), traverse);
}

void BEntry::Unset() {
    fPath.clear();
    fStatus = B_NO_INIT;
}

status_t BEntry::InitCheck() const { return fStatus; }

bool BEntry::Exists() const {
    struct stat info;
    return fStatus == B_OK && lstat(fPath.c_str(), &info) == 0;
}

status_t BEntry::GetPath(BPath* path) const {
    if (path == nullptr) return B_BAD_VALUE;
    if (fStatus != B_OK) return fStatus;
    return path->SetTo(fPath.c_str());
}

status_t BEntry::GetRef(entry_ref* ref) const {
    if (ref == nullptr) return B_BAD_VALUE;
    if (fStatus != B_OK) return fStatus;
    std::string directory;
    std::string leaf = LeafOf(fPath);
    // The root is the one entry without a directory: it is "." in itself.
    if (!ParentPath(fPath, &directory)) {
        directory = "/";
        leaf = ".";
    }
    struct stat info;
    if (stat(directory.c_str(), &info) != 0) return StatusFromErrno(errno);
    entry_ref made(info.st_dev, info.st_ino, leaf.c_str());
    made.directoryPath = strdup(directory.c_str());
    if (made.name == nullptr || made.directoryPath == nullptr) return B_NO_MEMORY;
    *ref = made;
    return B_OK;
}

status_t BEntry::GetName(char* buffer) const {
    if (buffer == nullptr) return B_BAD_VALUE;
    if (fStatus != B_OK) return fStatus;
    std::string leaf = fPath == "/" ? "/" : LeafOf(fPath);
    std::strncpy(buffer, leaf.c_str(), B_FILE_NAME_LENGTH - 1);
    buffer[B_FILE_NAME_LENGTH - 1] = '\0';
    return B_OK;
}

status_t BEntry::GetParent(BEntry* entry) const { return SetToParent(fStatus, fPath, entry); }

status_t BEntry::GetParent(BDirectory* directory) const {
    return SetToParent(fStatus, fPath, directory);
}

bool BEntry::operator==(const BEntry& other) const {
    if (fStatus != B_OK || other.fStatus != B_OK) return fStatus == other.fStatus;
    return fPath == other.fPath;
}
