// The Series 5 file service on the wire: request builders and reply parsers, all pure
// functions over bytes so that they can be tested and fuzzed on their own.
//
// Request: op(u16) opid(u16) fields. Reply: 0x0011 opid(u16) status(i32) data. Fields are
// little-endian u32 unless said otherwise; strings are len(u16) then Windows-1252 bytes.
// Replies are untrusted: every parser checks the size before it reads a field.
#pragma once

#include <cstddef>
#include <string>

#include "platform/Errors.h"
#include "platform/SupportDefs.h"

namespace epoc {

enum Op : uint16 {
    kClose = 0x01,
    kOpenDir = 0x10,
    kReadDir = 0x12,
    kDriveList = 0x13,
    kVolume = 0x14,
    kOpenFile = 0x16,
    kRead = 0x18,
    kWrite = 0x19,
    kSeek = 0x1A,
    kDelete = 0x1B,
    kRemoteEntry = 0x1C,
    kSetSize = 0x1E,
    kRename = 0x1F,
    kMkdirAll = 0x20,
    kRmdir = 0x21,
    kSetAttributes = 0x22,
    kAttributes = 0x23,
    kSetModified = 0x24,
    kModified = 0x25,
    kCreateFile = 0x29,
    kReplaceFile = 0x2A,
    kReplace = 0x32,
};

// Statuses of the family (signed 32-bit).
enum Status : int32 {
    kOk = 0,
    kNotFound = -1,
    kGeneral = -2,
    kNotSupported = -5,
    kExists = -11,
    kPathNotFound = -12,
    kInUse = -14,
    kNotReady = -18,
    kAccessDenied = -21,
    kEndOfFile = -25,
    kDiskFull = -26,
    kBadName = -28,
};

// Entry attributes.
enum Attribute : uint32 {
    kAttrReadOnly = 0x01,
    kAttrHidden = 0x02,
    kAttrSystem = 0x04,
    kAttrDirectory = 0x10,
    kAttrArchive = 0x20,
    kAttrVolume = 0x40,
    kAttrNormal = 0x80,
    kAttrTemporary = 0x100,
    kAttrCompressed = 0x800,
    // Given to open dir: the entries then carry their file type ids.
    kAttrWithUids = 0x10000000,
};

// Open modes: how others may share the file, and whether we write.
enum OpenMode : uint32 {
    kShareExclusive = 0x000,
    kShareReadOnly = 0x001,
    kShareAny = 0x002,
    kOpenText = 0x020,
    kOpenReadWrite = 0x200,
};

// Seek sense: from the start of the file, and from its end.
constexpr uint32 kSeekStart = 1;
constexpr uint32 kSeekCurrent = 2;
constexpr uint32 kSeekEnd = 3;

constexpr uint16 kResponseCode = 0x11;
constexpr size_t kHeaderSize = 8;
// The family reads and writes at most this many bytes a request.
constexpr size_t kMaxChunk = 2048;
// The largest frame the service sends.
constexpr size_t kMaxReply = 2079;
// The largest request we build: a write of a full chunk.
constexpr size_t kMaxRequest = 4 + 4 + kMaxChunk;
// Paths (drive, separators and names, in wire bytes) are at most this long.
constexpr size_t kMaxPath = 256;
// Volume labels are cut to this many bytes.
constexpr size_t kMaxLabel = 255;

// --- requests: each returns the request's size, or 0 when it does not fit `capacity` ---------

size_t build_handle_request(uint8* out, size_t capacity, uint16 op, uint16 opid, uint32 handle);
size_t build_path_request(uint8* out, size_t capacity, uint16 op, uint16 opid,
                          const std::string& path);
size_t build_open_dir(uint8* out, size_t capacity, uint16 opid, uint32 attributes,
                      const std::string& pattern);
size_t build_volume(uint8* out, size_t capacity, uint16 opid, uint32 drive);
// Open, create and replace share one shape: `mode name`.
size_t build_open_file(uint8* out, size_t capacity, uint16 op, uint16 opid, uint32 mode,
                       const std::string& path);
size_t build_read(uint8* out, size_t capacity, uint16 opid, uint32 handle, uint32 length);
size_t build_write(uint8* out, size_t capacity, uint16 opid, uint32 handle, const uint8* data,
                   size_t count);
// The offset comes first, then the handle and the sense.
size_t build_seek(uint8* out, size_t capacity, uint16 opid, int32 offset, uint32 handle,
                  uint32 sense);
size_t build_set_size(uint8* out, size_t capacity, uint16 opid, uint32 handle, uint32 size);
// Rename and replace share one shape: `old new`.
size_t build_rename(uint8* out, size_t capacity, uint16 op, uint16 opid, const std::string& from,
                    const std::string& to);
size_t build_set_attributes(uint8* out, size_t capacity, uint16 opid, uint32 set, uint32 clear,
                            const std::string& path);
size_t build_set_modified(uint8* out, size_t capacity, uint16 opid, uint64 time,
                          const std::string& path);

// --- replies ----------------------------------------------------------------------------------

struct reply_header {
    uint16 opid;
    int32 status;
};
// False unless the reply holds a whole header with the family's response code.
[[nodiscard]] bool parse_header(const uint8* reply, size_t size, reply_header* header);

// The u32 at data offset `index * 4` (handles, attributes, positions): false when missing.
[[nodiscard]] bool parse_u32(const uint8* reply, size_t size, size_t index, uint32* value);
// modified of: the 64-bit time, low word first.
[[nodiscard]] bool parse_modified(const uint8* reply, size_t size, uint64* time);
// read: the data that follows the header, cut to `wanted` bytes.
void parse_read(const uint8* reply, size_t size, size_t wanted, const uint8** data, size_t* count);

// One entry of a read dir reply (and of a remote entry reply).
struct dir_entry {
    uint32 attributes;
    uint32 size;
    uint64 modified;
    uint32 uid[3];
    const uint8* long_name;
    size_t long_length;
    const uint8* short_name;  // the long name when the entry has no short name of its own
    size_t short_length;
    size_t next;  // reply offset of the entry after this one
};
// The entry that starts at reply offset `offset` (after its padding). False when no whole
// entry lies inside the `size` bytes, or its names are empty.
[[nodiscard]] bool parse_dir_entry(const uint8* reply, size_t size, size_t offset,
                                   dir_entry* entry);

struct volume_info {
    uint32 media;
    uint32 drive_attributes;
    uint32 media_attributes;
    uint32 unique_id;
    uint64 size;
    uint64 free;
    uint8 label[kMaxLabel];
    size_t label_length;
};
// False when the reply is shorter than the fields or than the label it announces.
[[nodiscard]] bool parse_volume(const uint8* reply, size_t size, volume_info* info);

// Our status for a device status other than kOk.
[[nodiscard]] status_t map_status(int32 status);

}  // namespace epoc
