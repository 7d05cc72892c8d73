#include "tavro_codec.h"

#include <cstring>

#include "platform/ByteOrder.h"

// --- request builders ---------------------------------------------------------------------------

namespace {

constexpr size_t kHeader = RFSV_REQUEST_HEADER_SIZE;

void put_header(uint8* out, uint16 opcode, size_t payload) {
    WordToBytes(opcode, out);
    WordToBytes(static_cast<uint16>(payload), out + 2);
}

// A request of `opcode` whose payload is `field` (`field_size` bytes, already in the device's
// byte order) and then `path` with its terminating zero; 0 if it does not fit in `capacity`.
size_t build_field_and_path(uint8* out, size_t capacity, uint16 opcode, const uint8* field,
                            size_t field_size, const char* path) {
    size_t length = strlen(path) + 1;
    if (kHeader + field_size + length > capacity) return 0;
    put_header(out, opcode, field_size + length);
    if (field_size > 0) memcpy(out + kHeader, field, field_size);
    memcpy(out + kHeader + field_size, path, length);
    return kHeader + field_size + length;
}

}  // namespace

size_t build_path_request(uint8* out, size_t capacity, uint16 opcode, const char* path) {
    return build_field_and_path(out, capacity, opcode, nullptr, 0, path);
}

size_t build_fopen(uint8* out, size_t capacity, uint16 mode, const char* path) {
    uint8 field[2];
    WordToBytes(mode, field);
    return build_field_and_path(out, capacity, FOPEN, field, sizeof field, path);
}

size_t build_handle_request(uint8* out, uint16 opcode, uint16 handle) {
    put_header(out, opcode, 2);
    WordToBytes(handle, out + kHeader);
    return kHeader + 2;
}

size_t build_fread(uint8* out, uint16 handle, uint16 count) {
    put_header(out, FREAD, 4);
    WordToBytes(handle, out + kHeader);
    WordToBytes(count, out + kHeader + 2);
    return kHeader + 4;
}

size_t build_fwrite(uint8* out, size_t capacity, uint16 handle, const uint8* data, size_t count) {
    if (count > RFSV_MAX_WRITE_CHUNK || kHeader + 2 + count > capacity) return 0;
    put_header(out, FWRITE, count + 2);
    WordToBytes(handle, out + kHeader);
    memcpy(out + kHeader + 2, data, count);
    return kHeader + 2 + count;
}

size_t build_fseek(uint8* out, uint16 handle, int32 offset, uint16 mode) {
    put_header(out, FSEEK, 8);
    WordToBytes(handle, out + kHeader);
    LongToBytes(static_cast<uint32>(offset), out + kHeader + 2);
    WordToBytes(mode, out + kHeader + 6);
    return kHeader + 8;
}

size_t build_rename(uint8* out, size_t capacity, const char* oldpath, const char* newpath) {
    size_t oldlength = strlen(oldpath) + 1;
    size_t newlength = strlen(newpath) + 1;
    if (kHeader + oldlength + newlength > capacity) return 0;
    put_header(out, RENAME, oldlength + newlength);
    memcpy(out + kHeader, oldpath, oldlength);
    memcpy(out + kHeader + oldlength, newpath, newlength);
    return kHeader + oldlength + newlength;
}

size_t build_sfdate(uint8* out, size_t capacity, uint32 time, const char* path) {
    uint8 field[4];
    LongToBytes(time, field);
    return build_field_and_path(out, capacity, SFDATE, field, sizeof field, path);
}

// --- reply parsers ------------------------------------------------------------------------------

bool reply_status(const uint8* reply, size_t size, int16* status) {
    // The length word counts the status and the data: a reply cut short or mangled on the
    // way shows itself here, before any of its fields is believed.
    constexpr size_t kCounted = RFSV_REPLY_LENGTH + 2;  // the length word counts from here
    if (reply == nullptr || size < RFSV_REPLY_HEADER_SIZE || size > 0xFFFF + kCounted) return false;
    if (BytesToUword(reply) != RFSV_REPLY_CODE ||
        BytesToUword(reply + RFSV_REPLY_LENGTH) != size - kCounted)
        return false;
    *status = BytesToWord(reply + RFSV_REPLY_STATUS);
    return true;
}

bool outcome_unknown(status_t status) { return status == B_IO_ERROR || status == B_TIMED_OUT; }

int32 parse_fopen_reply(const uint8* reply, size_t size) {
    int16 status;
    if (!reply_status(reply, size, &status)) return B_IO_ERROR;
    if (status != 0) return map_fopen_status(status);
    if (size != RFSV_REPLY_DATA + 2) return B_IO_ERROR;
    return BytesToUword(reply + RFSV_REPLY_DATA);
}

status_t parse_fread_reply(const uint8* reply, size_t size, uint32 wanted, const uint8** data,
                           uint32* count, bool* end) {
    *count = 0;
    *end = false;
    int16 status;
    if (!reply_status(reply, size, &status)) return B_IO_ERROR;
    if (status == RFSV_END_OF_FILE) {
        *end = true;
        return B_OK;
    }
    if (status != 0) return B_FILE_ERROR;
    // reply_status has checked that the length word matches the bytes that came. More data
    // than was asked for, or none at all where the end of file would have been said, is a
    // reply that cannot be trusted.
    uint32 held = static_cast<uint32>(size - RFSV_REPLY_DATA);
    if (held > wanted || (held == 0 && wanted > 0)) return B_IO_ERROR;
    *count = held;
    *data = reply + RFSV_REPLY_DATA;
    return B_OK;
}

status_t parse_fseek_reply(const uint8* reply, size_t size, uint32* position) {
    int16 status;
    if (!reply_status(reply, size, &status)) return B_IO_ERROR;
    if (status != 0) return B_FILE_ERROR;
    if (size != RFSV_REPLY_DATA + 4) return B_IO_ERROR;
    *position = BytesToUlong(reply + RFSV_REPLY_DATA);
    return B_OK;
}

namespace {
// FINFO's reply holds the entry header up to and including the modification time.
constexpr size_t kFinfoHeaderHeld = RFSV_ENTRY_TIME + 4;
}  // namespace

status_t parse_finfo_reply(const uint8* reply, size_t size, const uint8** header) {
    int16 status;
    if (!reply_status(reply, size, &status)) return B_IO_ERROR;
    if (status != 0)
        return map_change_status(status) == B_ENTRY_NOT_FOUND
                   ? B_ENTRY_NOT_FOUND
                   : (status == RFSV_BAD_NAME ? B_BAD_VALUE : B_IO_ERROR);
    if (size < RFSV_REPLY_DATA + kFinfoHeaderHeld) return B_IO_ERROR;
    *header = reply + RFSV_REPLY_DATA;
    return B_OK;
}

bool parse_dir_entry(const uint8* buffer, size_t size, size_t offset, dir_entry* entry) {
    if (buffer == nullptr || offset >= size || size - offset <= RFSV_ENTRY_HEADER_SIZE)
        return false;
    const char* name = reinterpret_cast<const char*>(buffer + offset + RFSV_ENTRY_HEADER_SIZE);
    size_t room = size - offset - RFSV_ENTRY_HEADER_SIZE;
    const void* nul = memchr(name, '\0', room);
    if (nul == nullptr) return false;  // the name runs past the end of the reply
    entry->header = buffer + offset;
    entry->name = name;
    entry->name_length = static_cast<size_t>(static_cast<const char*>(nul) - name);
    entry->next = offset + RFSV_ENTRY_HEADER_SIZE + entry->name_length + 1;
    return true;
}

bool parse_deviceinfo_reply(const uint8* reply, size_t size, device_info* info) {
    int16 status;
    if (!reply_status(reply, size, &status) || status != 0 || size < RFSV_INFO_VOLUME_NAME)
        return false;
    info->media = reply[RFSV_INFO_MEDIA];
    info->total = BytesToUlong(reply + RFSV_INFO_TOTAL);
    info->free = BytesToUlong(reply + RFSV_INFO_FREE);
    size_t room = size - RFSV_INFO_VOLUME_NAME;
    if (room > sizeof info->volume_name - 1) room = sizeof info->volume_name - 1;
    size_t length = strnlen(reinterpret_cast<const char*>(reply + RFSV_INFO_VOLUME_NAME), room);
    memcpy(info->volume_name, reply + RFSV_INFO_VOLUME_NAME, length);
    info->volume_name[length] = '\0';
    return true;
}

status_t parse_fclose_reply(const uint8* reply, size_t size) {
    int16 status;
    if (!reply_status(reply, size, &status)) return B_IO_ERROR;
    return status == 0 || status == RFSV_BAD_HANDLE ? B_OK : B_FILE_ERROR;
}

status_t parse_fwrite_reply(const uint8* reply, size_t size) {
    int16 status;
    if (!reply_status(reply, size, &status) || size != RFSV_REPLY_HEADER_SIZE) return B_IO_ERROR;
    return status == 0 ? B_OK : map_fwrite_status(status);
}

status_t parse_dirread_reply(const uint8* reply, size_t size, size_t* entries, bool* end) {
    *entries = size;
    *end = false;
    int16 status;
    if (!reply_status(reply, size, &status)) return B_IO_ERROR;
    if (status == RFSV_END_OF_FILE) {
        *end = true;
        return B_OK;
    }
    // A successful reply brings at least one entry after its two leading bytes.
    if (status != 0 || size <= RFSV_DIRREAD_ENTRIES) return B_IO_ERROR;
    *entries = RFSV_DIRREAD_ENTRIES;
    return B_OK;
}

bool entry_is_directory(const uint8* header) {
    return (BytesToUword(header + RFSV_ENTRY_ATTRIBUTES) & RFSV_ATTR_DIRECTORY) != 0;
}

bool is_read_only_media(uint8 media) {
    return media == RFSV_MEDIA_ROM || media == RFSV_MEDIA_WRITE_PROTECTED;
}
