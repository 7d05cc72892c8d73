#include "kits/Path.h"

#include "PathNames.h"
#include "kits/Directory.h"
#include "kits/Entry.h"
#include "kits/StorageDefs.h"
#include "platform/Errors.h"

using namespace kits_private;

namespace {

// Relative paths, "." and ".." components, doubled and trailing "/" all ask for the file
// system's help; anything else is already a clean absolute path.
bool NeedsNormalizing(const std::string& path) {
    if (path.empty() || path[0] != '/') return true;
    if (path.size() > 1 && path.back() == '/') return true;
    if (path.find("//") != std::string::npos) return true;
    size_t start = 1;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        std::string component = path.substr(start, end - start);
        if (component == "." || component == "..") return true;
        start = end + 1;
    }
    return false;
}

}  // namespace

BPath::BPath() : fStatus(B_NO_INIT) {}

BPath::BPath(const char* path, const char* leaf, bool normalize) : fStatus(B_NO_INIT) {
    (void)SetTo(path, leaf, normalize);
}

BPath::BPath(const BDirectory* directory, const char* leaf, bool normalize) : fStatus(B_NO_INIT) {
    (void)SetTo(directory, leaf, normalize);
}

BPath::BPath(const BEntry* entry) : fStatus(B_NO_INIT) { (void)SetTo(entry); }

BPath::BPath(const entry_ref* ref) : fStatus(B_NO_INIT) { (void)SetTo(ref); }

BPath::BPath(const BPath& other) = default;

BPath& BPath::operator=(const BPath& other) = default;

BPath::~BPath() = default;

status_t BPath::SetTo(const char* path, const char* leaf, bool normalize) {
    Unset();
    if (path == nullptr || path[0] == '\0') return fStatus = B_BAD_VALUE;
    if (leaf != nullptr && leaf[0] == '/') return fStatus = B_BAD_VALUE;
    std::string full = path;
    if (leaf != nullptr && leaf[0] != '\0') full += std::string("/") + leaf;
    if (full.size() >= B_PATH_NAME_LENGTH) return fStatus = B_NAME_TOO_LONG;
    if (normalize || NeedsNormalizing(full)) {
        std::string resolved;
        fStatus = ResolveEntryPath(CurrentDirectory(), full.c_str(), false, &resolved);
        if (fStatus != B_OK) return fStatus;
        full = resolved;
    }
    fPath = full;
    return fStatus = B_OK;
}

status_t BPath::SetTo(const BDirectory* directory, const char* leaf, bool normalize) {
    Unset();
    if (directory == nullptr || directory->InitCheck() != B_OK) return fStatus = B_BAD_VALUE;
    return SetTo(directory->PathName(), leaf, normalize);
}

status_t BPath::SetTo(const BEntry* entry) {
    Unset();
    if (entry == nullptr) return fStatus = B_BAD_VALUE;
    BPath path;
    status_t status = entry->GetPath(&path);
    if (status != B_OK) return fStatus = status;
    *this = path;
    return fStatus;
}

status_t BPath::SetTo(const entry_ref* ref) {
    Unset();
    BEntry entry(ref);
    if (entry.InitCheck() != B_OK) return fStatus = entry.InitCheck();
    return SetTo(&entry);
}

status_t BPath::Append(const char* leaf, bool normalize) {
    if (fStatus != B_OK) return fStatus;
    std::string base = fPath;
    return SetTo(base.c_str(), leaf, normalize);
}

void BPath::Unset() {
    fPath.clear();
    fStatus = B_NO_INIT;
}

status_t BPath::InitCheck() const { return fStatus; }

const char* BPath::Path() const { return fStatus == B_OK ? fPath.c_str() : nullptr; }

const char* BPath::Leaf() const {
    if (fStatus != B_OK) return nullptr;
    size_t slash = fPath.rfind('/');
    return fPath.c_str() + slash + 1;
}

status_t BPath::GetParent(BPath* parent) const {
    if (parent == nullptr) return B_BAD_VALUE;
    if (fStatus != B_OK) return fStatus;
    std::string path;
    if (!ParentPath(fPath, &path)) return B_ENTRY_NOT_FOUND;
    parent->Unset();
    parent->fPath = path;
    parent->fStatus = B_OK;
    return B_OK;
}

bool BPath::operator==(const BPath& other) const {
    if (fStatus != B_OK || other.fStatus != B_OK) return fStatus == other.fStatus;
    return fPath == other.fPath;
}
