#include "kits/Directory.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>

#include "PathNames.h"
#include "kits/Entry.h"
#include "kits/Path.h"
#include "platform/Errors.h"

using namespace kits_private;

BDirectory::BDirectory() : fStatus(B_NO_INIT) {}

BDirectory::BDirectory(const char* path) : fStatus(B_NO_INIT) { (void)SetTo(path); }

BDirectory::BDirectory(const entry_ref* ref) : fStatus(B_NO_INIT) { (void)SetTo(ref); }

BDirectory::BDirectory(const BEntry* entry) : fStatus(B_NO_INIT) { (void)SetTo(entry); }

BDirectory::BDirectory(const BDirectory& other) = default;

BDirectory& BDirectory::operator=(const BDirectory& other) = default;

BDirectory::~BDirectory() = default;

status_t BDirectory::SetTo(const char* path) {
    Unset();
    if (path == nullptr || path[0] == '\0') return fStatus = B_BAD_VALUE;
    char* real = realpath(path, nullptr);
    if (real == nullptr) return fStatus = StatusFromErrno(errno);
    std::string resolved = real;
    free(real);
    struct stat info;
    if (stat(resolved.c_str(), &info) != 0) return fStatus = StatusFromErrno(errno);
    if (!S_ISDIR(info.st_mode)) return fStatus = B_NOT_A_DIRECTORY;
    fPath = resolved;
    return fStatus = B_OK;
}

status_t BDirectory::SetTo(const entry_ref* ref) {
    Unset();
    BEntry entry(ref, true);
    if (entry.InitCheck() != B_OK) return fStatus = entry.InitCheck();
    return SetTo(&entry);
}

status_t BDirectory::SetTo(const BEntry* entry) {
    Unset();
    BPath path;
    status_t status = path.SetTo(entry);
    if (status != B_OK) return fStatus = status;
    return SetTo(path.Path());
}

void BDirectory::Unset() {
    fPath.clear();
    fStatus = B_NO_INIT;
}

status_t BDirectory::InitCheck() const { return fStatus; }

status_t BDirectory::GetEntry(BEntry* entry) const {
    if (entry == nullptr) return B_BAD_VALUE;
    if (fStatus != B_OK) return fStatus;
    return entry->SetTo(fPath.c_str());
}

status_t BDirectory::FindEntry(const char* path, BEntry* entry, bool traverse) const {
    if (entry == nullptr) return B_BAD_VALUE;
    status_t status = entry->SetTo(this, path, traverse);
    if (status != B_OK) return status;
    if (!entry->Exists()) {
        entry->Unset();
        return B_ENTRY_NOT_FOUND;
    }
    return B_OK;
}

bool BDirectory::Contains(const char* path) const {
    BEntry entry;
    return FindEntry(path, &entry) == B_OK;
}

bool BDirectory::IsRootDirectory() const { return fStatus == B_OK && fPath == "/"; }

const char* BDirectory::PathName() const { return fStatus == B_OK ? fPath.c_str() : nullptr; }
