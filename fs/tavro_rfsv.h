// tavro3's device requests: the transport (send_command), pure packet builders and reply
// parsers that take and give bytes, and one psion_ function per remote file service request.
//
// Replies come from the device and are untrusted: every parser checks the reply's size before
// it reads a field, and the status of each request is mapped to ours in one place per request.
#pragma once

#include <cstddef>

#include "tavro.h"

enum rfsv_command : uint16 {
    FOPEN = 0,
    FCLOSE = 2,
    FREAD = 4,
    FDIRREAD = 6,
    FDEVICEREAD = 8,
    FWRITE = 10,
    FSEEK = 12,
    RENAME = 18,
    DELETE = 20,
    FINFO = 22,
    MKDIR = 28,
    FDEVICEINFO = 32,
    SFDATE = 40,
};

// Device status values that the mapping tables single out.
enum device_status : int16 {
    kDeviceBadHandle = -8,
    kDeviceTooManyOpen = -9,
    kDeviceExists = -32,
    kDeviceNotFound = -33,
    kDeviceEndOfFile = -36,
    kDeviceFull = -37,
    kDeviceBadName = -38,
    kDeviceAccessDenied = -39,
    kDeviceNoDirectory = -41,
    kDeviceNoPath = -42,
    kDeviceReadOnly = -44,
    kDeviceWriteProtected = -65,
};

// The response code at the head of every reply of the file service.
constexpr uint16 kReplyCode = 0x2A;

constexpr uint16 kMaxReadChunk = 511;
constexpr uint16 kMaxWriteChunk = 503;
constexpr size_t kRequestBufferSize = 512;
constexpr size_t kEntryHeaderSize = 16;

// FSEEK modes on the wire.
enum : uint16 { kSeekFromStart = 1, kSeekFromEnd = 2, kSeekFromCurrent = 3 };

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
// Our status for a reply that never came, given the transport's status: B_TIMED_OUT or
// B_IO_ERROR.
[[nodiscard]] status_t missing_reply(status_t transport);
// True for the statuses that leave open whether the device carried the request out.
[[nodiscard]] bool outcome_unknown(status_t status);

// Status mapping, one per request (status 0 is not passed).
[[nodiscard]] status_t map_fopen_status(int16 status);
[[nodiscard]] status_t map_fwrite_status(int16 status);
[[nodiscard]] status_t map_mkdir_status(int16 status);
[[nodiscard]] status_t map_sfdate_status(int16 status);
// RENAME, DELETE and FINFO.
[[nodiscard]] status_t map_change_status(int16 status);

// FOPEN: the handle (>= 0) or our status.
[[nodiscard]] int32 parse_fopen_reply(const uint8* reply, size_t size);
// FREAD: B_OK with the data (1 to `wanted` bytes), B_OK with `end` set at end of file,
// B_FILE_ERROR for a refusal, or B_IO_ERROR for a reply that cannot be trusted.
[[nodiscard]] status_t parse_fread_reply(const uint8* reply, size_t size, uint32 wanted,
                                         const uint8** data, uint32* count, bool* end);
// FSEEK: B_OK and the new position, or an error.
[[nodiscard]] status_t parse_fseek_reply(const uint8* reply, size_t size, uint32* position);
// FINFO: B_OK with the directory entry header (its first 12 bytes are in the reply),
// B_ENTRY_NOT_FOUND when the device says there is no such entry, B_BAD_VALUE for a name it
// cannot hold, B_IO_ERROR for anything else (a reply that says nothing sure).
[[nodiscard]] status_t parse_finfo_reply(const uint8* reply, size_t size, const uint8** header);

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

struct device_info {
    uint8 media;
    uint32 total;
    uint32 free;
    char volume_name[256];
};
// FDEVICEINFO: false when the reply is too short.
[[nodiscard]] bool parse_deviceinfo_reply(const uint8* reply, size_t size, device_info* info);

// --- transport
// ------------------------------------------------------------------------------------

// Sends one request packet and returns the reply (free() it), or null. `transport` receives
// B_OK, or the status of the port call that failed.
uint8* send_command(volume* vol, const uint8* request, int32* reply_size, status_t* transport);

// The book of device handles that the volumes of one connection hold: joined at mount, left
// at unmount. handles_held counts the handles open on the device for this connection.
void attach_handle_book(volume* vol);
void detach_handle_book(volume* vol);
[[nodiscard]] size_t handles_held(volume* vol);
// True when opens of unknown outcome or closes still owed may have left handles open on the
// device, which then refuses to delete their files.
[[nodiscard]] bool handles_in_doubt(volume* vol);
// Closes those handles: the ones known, and, after opens of unknown outcome, the ones that
// an open of the drive's root listing shows them to have taken.
void tidy_device_handles(volume* vol);

// --- requests
// -------------------------------------------------------------------------------------

[[nodiscard]] int32 psion_open(volume* vol, uint16 mode, const char* path);
status_t psion_close(volume* vol, filecookie* cookie);
// FINFO of a path: B_OK with the entry header copied to `header` (16 bytes), or an error.
[[nodiscard]] status_t psion_finfo(volume* vol, const char* path, uint8* header);
// FDIRREAD: the reply (free() it) or null; `transport` as for send_command.
uint8* psion_dirread(volume* vol, int32 handle, int32* reply_size, status_t* transport);
[[nodiscard]] status_t psion_mkdir(volume* vol, const char* path);
[[nodiscard]] status_t psion_rename(volume* vol, const char* oldpath, const char* newpath);
[[nodiscard]] status_t psion_delete(volume* vol, const char* path);
[[nodiscard]] status_t psion_sfdate(volume* vol, const char* path, uint32 time);
[[nodiscard]] status_t psion_sfstat(volume* vol, const char* path, uint32 set, uint32 mask);
[[nodiscard]] status_t psion_deviceinfo(volume* vol, device_info* info);
[[nodiscard]] status_t psion_fseek(volume* vol, filecookie* cookie, int whence, int32 offset);
[[nodiscard]] int32 psion_read(volume* vol, filecookie* cookie, uint8* buf, uint32 count);
// FWRITE in chunks: the bytes the device is known to have stored (> 0), or the error. After
// an error the handle's position is kPositionUnknown. An append chunk whose reply went wrong
// is settled by asking where the file ends: counted if it is there, sent again if not.
[[nodiscard]] int32 psion_write(volume* vol, filecookie* cookie, const uint8* buf, uint32 count);
