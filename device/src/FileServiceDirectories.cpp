// Directory listings through the Series 3 file service: FOPEN of a directory and FDIRREAD.
#include "FileService.h"
#include "platform/Series3Wire.h"

namespace handheld {

void FileService::AppendEntryHeader(const EntryInfo& entry, Bytes& data) {
    AppendWord(data, 0);
    AppendWord(data, entry.attributes);
    AppendLong(data, entry.size);
    AppendLong(data, entry.mtime);
    AppendLong(data, 0);
}

int16 FileService::OpenDirectory(uint32 owner, const std::string& text, Bytes& data) {
    NamedPath named;
    int16 status = ParsePath(text, named);
    if (status != RFSV_OK) return status;
    DevicePath& path = named.path;
    std::string pattern = "*.*";
    if (!path.trailingSeparator && !path.components.empty()) {
        pattern = path.components.back();
        path.components.pop_back();
    }
    const Resolved& dir = named.target;
    status = named.Resolve();
    if (status == RFSV_BAD_NAME || status == RFSV_NO_SUCH_DEVICE) return status;
    if (status != RFSV_OK || !dir.exists || !dir.info.IsDirectory()) return RFSV_NO_SUCH_DIRECTORY;
    Open open;
    open.kind = Open::Kind::Directory;
    open.owner = owner;
    open.drive = named.drive;
    for (EntryInfo& entry : named.drive->List(dir.hostPath))
        if (NameRules::MatchesPattern(entry.name, pattern)) open.listing.push_back(entry);
    return AddHandle(std::move(open), data);
}

int16 FileService::Fdirread(uint32, PayloadReader& in, Bytes& data) {
    uint16 handle;
    if (!in.ReadWord(handle)) return RFSV_BAD_ARGUMENT;
    Open* open = FindHandle(handle, Open::Kind::Directory);
    if (open == nullptr) return RFSV_BAD_HANDLE;
    if (open->next >= open->listing.size()) return RFSV_END_OF_FILE;
    // Two bytes precede the entries; each entry is a 16-byte header, the name and its NUL.
    AppendWord(data, 0);
    size_t replySize = 6 + data.size();
    while (open->next < open->listing.size()) {
        const EntryInfo& entry = open->listing[open->next];
        size_t entrySize = 17 + entry.name.size();
        if (replySize + entrySize > RFSV_MAX_DIRREAD_REPLY) break;
        AppendEntryHeader(entry, data);
        data.insert(data.end(), entry.name.begin(), entry.name.end());
        data.push_back(0);
        replySize += entrySize;
        ++open->next;
    }
    return RFSV_OK;
}

}  // namespace handheld
