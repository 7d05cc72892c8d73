#include "MountPoint.h"

#include <cstring>

bool CopyReplyString(const uint8* reply, size_t received, size_t offset, char* dest,
                     size_t destSize) {
    if (offset >= received || destSize == 0) {
        return false;
    }
    const void* end = memchr(reply + offset, '\0', received - offset);
    if (end == nullptr) {
        return false;
    }
    size_t length = static_cast<const uint8*>(end) - (reply + offset);
    if (length >= destSize) {
        return false;
    }
    memcpy(dest, reply + offset, length + 1);
    return true;
}

bool MountRootIsUsable(const char* root, size_t rootCapacity) {
    size_t length = strnlen(root, rootCapacity);
    if (length == 0 || root[0] != '/') {
        return false;
    }
    for (size_t i = 0; i < length; i++) {
        if (root[i] != '/') {
            return true;
        }
    }
    return false;
}

status_t MakeMountPointPath(const char* root, size_t rootCapacity, const char* volume, char* path,
                            size_t pathSize) {
    if (!MountRootIsUsable(root, rootCapacity)) {
        return B_BAD_VALUE;
    }
    if (volume[0] == '\0' || strcmp(volume, ".") == 0 || strcmp(volume, "..") == 0) {
        return B_NOT_ALLOWED;
    }
    size_t rootLength = strnlen(root, rootCapacity);
    bool needsSlash = rootLength == 0 || root[rootLength - 1] != '/';
    size_t volumeLength = strlen(volume);
    if (rootLength + (needsSlash ? 1 : 0) + volumeLength >= pathSize) {
        return B_NAME_TOO_LONG;
    }
    memcpy(path, root, rootLength);
    size_t at = rootLength;
    if (needsSlash) {
        path[at++] = '/';
    }
    for (size_t i = 0; i < volumeLength; i++) {
        path[at++] = volume[i] == '/' ? '_' : volume[i];
    }
    path[at] = '\0';
    return B_OK;
}
