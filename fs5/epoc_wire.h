// The Series 5 file service on the wire: request builders and reply parsers, all pure
// functions over bytes so that they can be tested and fuzzed on their own.
//
// The opcodes, statuses and reply layout are platform/Series5Wire.h's.
// Replies are untrusted: every parser checks the size before it reads a field.
#pragma once

#include <cstddef>
#include <string>

#include "platform/Errors.h"
#include "platform/Series5Wire.h"
#include "platform/SupportDefs.h"

namespace epoc {

// The largest request we build: a write of a full chunk.
constexpr size_t kMaxRequest = 4 + 4 + kMaxChunk;
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
