// entry_ref fields of messages. A ref travels flattened: device (int64), directory (int64),
// then the name and the directory's path, each NUL-terminated (an empty path for none).
#include <cstring>
#include <string>
#include <vector>

#include "kits/Entry.h"
#include "kits/Message.h"

namespace {

void AppendInt64(std::vector<uint8>* bytes, int64 value) {
    const auto* raw = reinterpret_cast<const uint8*>(&value);
    bytes->insert(bytes->end(), raw, raw + sizeof(value));
}

}  // namespace

status_t BMessage::AddRef(const char* name, const entry_ref* ref) {
    if (ref == nullptr || ref->name == nullptr) return B_BAD_VALUE;
    std::vector<uint8> bytes;
    AppendInt64(&bytes, static_cast<int64>(ref->device));
    AppendInt64(&bytes, static_cast<int64>(ref->directory));
    bytes.insert(bytes.end(), ref->name, ref->name + std::strlen(ref->name) + 1);
    const char* path = ref->directoryPath != nullptr ? ref->directoryPath : "";
    bytes.insert(bytes.end(), path, path + std::strlen(path) + 1);
    return AddData(name, B_REF_TYPE, bytes.data(), static_cast<ssize_t>(bytes.size()), false);
}

status_t BMessage::FindRef(const char* name, entry_ref* ref) const { return FindRef(name, 0, ref); }

status_t BMessage::FindRef(const char* name, int32 index, entry_ref* ref) const {
    if (ref == nullptr) return B_BAD_VALUE;
    const void* data;
    ssize_t size;
    status_t status = FindData(name, B_REF_TYPE, index, &data, &size);
    if (status != B_OK) return status;
    // The field may have come through a port: check every length before reading.
    const auto* bytes = static_cast<const char*>(data);
    if (size < static_cast<ssize_t>(2 * sizeof(int64))) return B_BAD_DATA;
    int64 device, directory;
    std::memcpy(&device, bytes, sizeof(device));
    std::memcpy(&directory, bytes + sizeof(int64), sizeof(directory));
    const char* text = bytes + 2 * sizeof(int64);
    const char* end = bytes + size;
    const char* nameEnd = static_cast<const char*>(std::memchr(text, '\0', end - text));
    if (nameEnd == nullptr) return B_BAD_DATA;
    const char* path = nameEnd + 1;
    const char* pathEnd = static_cast<const char*>(std::memchr(path, '\0', end - path));
    if (pathEnd == nullptr) return B_BAD_DATA;

    entry_ref found(static_cast<dev_t>(device), static_cast<ino_t>(directory), text);
    if (*path != '\0') found.directoryPath = strdup(path);
    *ref = found;
    return B_OK;
}
