// tavro3's file service codec: pure packet builders and reply parsers that take and give bytes,
// the per-request status tables and the FOPEN mode word. Nothing here touches a port.
//
// Replies come from the device and are untrusted: every parser checks the reply's size before
// it reads a field, and the status of each request is mapped to ours in one place per request.
#pragma once

#include <cstddef>

#include "kernel/fs_interface.h"
#include "platform/Errors.h"
#include "platform/Series3Wire.h"
#include "platform/SupportDefs.h"
#include "tavro_status.h"

// --- request builders: packet size, or 0 when it does not fit `capacity` -----------------------

[[nodiscard]] size_t build_path_request(uint8* out, size_t capacity, uint16 opcode,
                                        const char* path);
[[nodiscard]] size_t build_fopen(uint8* out, size_t capacity, uint16 mode, const char* path);
[[nodiscard]] size_t build_handle_request(uint8* out, uint16 opcode, uint16 handle);
[[nodiscard]] size_t build_fread(uint8* out, uint16 handle, uint16 count);
[[nodiscard]] size_t build_fwrite(uint8* out, size_t capacity, uint16 handle, const uint8* data,
                                  size_t count);
[[nodiscard]] size_t build_fseek(uint8* out, uint16 handle, int32 offset, uint16 mode);
[[nodiscard]] size_t build_rename(uint8* out, size_t capacity, const char* oldpath,
                                  const char* newpath);
[[nodiscard]] size_t build_sfdate(uint8* out, size_t capacity, uint32 time, const char* path);

// --- reply parsers ------------------------------------------------------------------------------

// The status of a reply: false when the reply is too short to hold one, or is not whole (its
// response code or its length word does not match the bytes that came).
[[nodiscard]] bool reply_status(const uint8* reply, size_t size, int16* status);
// True for the statuses that leave open whether the device carried the request out.
[[nodiscard]] bool outcome_unknown(status_t status);

// FOPEN: the handle (>= 0) or our status.
[[nodiscard]] int32 parse_fopen_reply(const uint8* reply, size_t size);
// FCLOSE: B_OK (also for a handle the device no longer had open), B_FILE_ERROR for a refusal,
// B_IO_ERROR for a reply that cannot be trusted.
[[nodiscard]] status_t parse_fclose_reply(const uint8* reply, size_t size);
// FREAD: B_OK with the data (1 to `wanted` bytes), B_OK with `end` set at end of file,
// B_FILE_ERROR for a refusal, or B_IO_ERROR for a reply that cannot be trusted.
[[nodiscard]] status_t parse_fread_reply(const uint8* reply, size_t size, uint32 wanted,
                                         const uint8** data, uint32* count, bool* end);
// FWRITE: B_OK when the device stored the chunk, its refusal mapped, or B_IO_ERROR.
[[nodiscard]] status_t parse_fwrite_reply(const uint8* reply, size_t size);
// FSEEK: B_OK and the new position, or an error.
[[nodiscard]] status_t parse_fseek_reply(const uint8* reply, size_t size, uint32* position);
// FINFO: B_OK with the directory entry header (its first 12 bytes are in the reply),
// B_ENTRY_NOT_FOUND when the device says there is no such entry, B_BAD_VALUE for a name it
// cannot hold, B_IO_ERROR for anything else (a reply that says nothing sure).
[[nodiscard]] status_t parse_finfo_reply(const uint8* reply, size_t size, const uint8** header);
// FDIRREAD: B_OK with `entries` set to the offset of the first entry, B_OK with `end` set at
// the end of the listing, B_IO_ERROR for a refusal or a reply that brings no entry.
[[nodiscard]] status_t parse_dirread_reply(const uint8* reply, size_t size, size_t* entries,
                                           bool* end);

// One directory entry of an FDIRREAD reply (or the listing's seed buffer).
struct dir_entry {
    const uint8* header;  // 16 bytes
    const char* name;     // NUL-terminated inside the buffer
    size_t name_length;
    size_t next;  // offset of the entry after this one
};
// False when the entry at `offset` does not lie wholly inside the `size` bytes.
[[nodiscard]] bool parse_dir_entry(const uint8* buffer, size_t size, size_t offset,
                                   dir_entry* entry);
// True when a directory entry header describes a directory.
[[nodiscard]] bool entry_is_directory(const uint8* header);

struct device_info {
    uint8 media;
    uint32 total;
    uint32 free;
    char volume_name[256];
};
// FDEVICEINFO: false when the reply is too short.
[[nodiscard]] bool parse_deviceinfo_reply(const uint8* reply, size_t size, device_info* info);
// True for the media types that cannot be written.
[[nodiscard]] bool is_read_only_media(uint8 media);
