// BDirectory: an existing directory of the Linux file system, known by its resolved path.
#pragma once

#include <string>

#include "platform/Errors.h"
#include "platform/SupportDefs.h"

class BEntry;
struct entry_ref;

class BDirectory {
public:
    BDirectory();
    explicit BDirectory(const char* path);
    explicit BDirectory(const entry_ref* ref);
    explicit BDirectory(const BEntry* entry);
    BDirectory(const BDirectory& other);
    BDirectory& operator=(const BDirectory& other);
    virtual ~BDirectory();

    // Follows symbolic links. Errors: B_BAD_VALUE, B_ENTRY_NOT_FOUND, B_NOT_A_DIRECTORY.
    status_t SetTo(const char* path);
    status_t SetTo(const entry_ref* ref);
    status_t SetTo(const BEntry* entry);
    void Unset();
    status_t InitCheck() const;

    status_t GetEntry(BEntry* entry) const;
    // The entry of `path` relative to this directory; B_ENTRY_NOT_FOUND when it does not exist.
    status_t FindEntry(const char* path, BEntry* entry, bool traverse = false) const;
    bool Contains(const char* path) const;
    bool IsRootDirectory() const;

    // The resolved absolute path; null while unset.
    const char* PathName() const;

private:
    std::string fPath;
    status_t fStatus;
};
