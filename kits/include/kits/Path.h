// BPath: an absolute path name, as text.
//
// A path is normalised (made absolute, ".", ".." and doubled "/" resolved, symbolic links in
// the directory part followed) when asked to, or when it needs it: when it is relative, or has
// a "." or ".." component, a doubled "/" or a trailing "/". Normalising needs the directory
// part to exist (else B_ENTRY_NOT_FOUND). A path that needs none is kept as given and need not
// exist at all.
#pragma once

#include <string>

#include "platform/Errors.h"
#include "platform/SupportDefs.h"

class BDirectory;
class BEntry;
struct entry_ref;

class BPath {
public:
    BPath();
    BPath(const char* path, const char* leaf = nullptr, bool normalize = false);
    BPath(const BDirectory* directory, const char* leaf, bool normalize = false);
    explicit BPath(const BEntry* entry);
    explicit BPath(const entry_ref* ref);
    BPath(const BPath& other);
    BPath& operator=(const BPath& other);
    virtual ~BPath();

    // leaf, when given, must be relative; it is appended with a "/". Errors: B_BAD_VALUE
    // (null or empty path, absolute leaf), B_ENTRY_NOT_FOUND, B_NAME_TOO_LONG.
    status_t SetTo(const char* path, const char* leaf = nullptr, bool normalize = false);
    status_t SetTo(const BDirectory* directory, const char* leaf, bool normalize = false);
    status_t SetTo(const BEntry* entry);
    status_t SetTo(const entry_ref* ref);
    status_t Append(const char* leaf, bool normalize = false);
    void Unset();
    status_t InitCheck() const;

    // Null while unset.
    const char* Path() const;
    // The last component; "" for "/"; null while unset.
    const char* Leaf() const;
    // B_ENTRY_NOT_FOUND for "/".
    status_t GetParent(BPath* parent) const;

    bool operator==(const BPath& other) const;
    bool operator!=(const BPath& other) const { return !(*this == other); }

private:
    std::string fPath;
    status_t fStatus;
};
