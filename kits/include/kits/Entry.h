// entry_ref and BEntry: names of entries in the Linux file system.
//
// An entry is a name in a directory; the entry itself need not exist, but its directory must.
// BEntry keeps the entry's absolute path with the directory part resolved (no ".", "..",
// symbolic links or doubled "/" in it); the leaf is resolved only when the entry is made with
// traverse set and is a symbolic link, in which case the entry becomes the link's target.
//
// entry_ref is the platform's reference to an entry: the directory's device and inode numbers
// and the leaf name. Linux cannot find a directory by its inode number, so a ref here also
// carries the directory's absolute path, which is what resolves it. Two refs are equal when
// device, directory and name are.
#pragma once

#include <sys/types.h>

#include <string>

#include "platform/Errors.h"
#include "platform/SupportDefs.h"

class BDirectory;
class BPath;

struct entry_ref {
    entry_ref();
    entry_ref(dev_t device, ino_t directory, const char* name);
    entry_ref(const entry_ref& other);
    entry_ref& operator=(const entry_ref& other);
    ~entry_ref();

    status_t set_name(const char* name);
    bool operator==(const entry_ref& other) const;
    bool operator!=(const entry_ref& other) const { return !(*this == other); }

    dev_t device;
    ino_t directory;
    char* name;
    // Absolute, resolved path of the directory; null when the ref was made from numbers only.
    char* directoryPath;
};

class BEntry {
public:
    BEntry();
    explicit BEntry(const char* path, bool traverse = false);
    BEntry(const BDirectory* directory, const char* path, bool traverse = false);
    explicit BEntry(const entry_ref* ref, bool traverse = false);
    BEntry(const BEntry& other);
    BEntry& operator=(const BEntry& other);
    virtual ~BEntry();

    // A relative path is taken from the current directory (or from `directory`). Errors:
    // B_BAD_VALUE (null or empty path), B_ENTRY_NOT_FOUND (the directory does not exist),
    // B_NOT_A_DIRECTORY, B_NAME_TOO_LONG, B_LINK_LIMIT.
    status_t SetTo(const char* path, bool traverse = false);
    status_t SetTo(const BDirectory* directory, const char* path, bool traverse = false);
    status_t SetTo(const entry_ref* ref, bool traverse = false);
    void Unset();
    status_t InitCheck() const;

    bool Exists() const;
    status_t GetPath(BPath* path) const;
    status_t GetRef(entry_ref* ref) const;
    status_t GetName(char* buffer) const;  // buffer of B_FILE_NAME_LENGTH
    // The directory that holds the entry. B_ENTRY_NOT_FOUND for the root, which has none.
    status_t GetParent(BEntry* entry) const;
    status_t GetParent(BDirectory* directory) const;

    bool operator==(const BEntry& other) const;
    bool operator!=(const BEntry& other) const { return !(*this == other); }

private:
    std::string fPath;  // empty while unset
    status_t fStatus;
};
