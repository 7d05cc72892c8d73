// The Series 3 remote file service ("SYS$RFSV") on the wire: request opcodes, device statuses,
// the FOPEN mode word, the directory entry header, reply offsets and chunk sizes. The desktop's
// file system and mount client and the simulated handheld all speak from this one vocabulary.
//
// Request: opcode(u16) length(u16) payload. Reply: 0x2A(u16) length(u16) status(i16) data.
// Every field is little-endian; `length` counts the bytes after itself.
#pragma once

#include <cstddef>

#include "platform/SupportDefs.h"

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

// Device statuses (signed 16-bit on the wire).
enum rfsv_status : int16 {
    RFSV_OK = 0,
    RFSV_GENERAL_FAILURE = -1,
    RFSV_BAD_ARGUMENT = -2,   // a malformed request
    RFSV_NOT_SUPPORTED = -4,  // an opcode the service does not know
    RFSV_BAD_HANDLE = -8,     // a handle not open, or open for something else
    RFSV_TOO_MANY_OPEN = -9,
    RFSV_EXISTS = -32,
    RFSV_NOT_FOUND = -33,
    RFSV_END_OF_FILE = -36,
    RFSV_DISK_FULL = -37,
    RFSV_BAD_NAME = -38,
    RFSV_ACCESS_DENIED = -39,
    RFSV_NO_SUCH_DEVICE = -41,
    RFSV_NO_SUCH_DIRECTORY = -42,
    RFSV_READ_ONLY_FILE = -44,
    RFSV_WRITE_PROTECTED = -65,
};

// FOPEN mode word: the low four bits say what to do with the name, the format nibble what is
// opened; 0x0100 asks for write access, 0x0200 for random access.
enum rfsv_open_mode : uint16 {
    RFSV_OPEN_EXISTING = 0x0000,
    RFSV_OPEN_CREATE = 0x0001,   // a new file; the name must not exist
    RFSV_OPEN_REPLACE = 0x0002,  // create, or empty an existing file
    RFSV_OPEN_APPEND = 0x0003,   // open or create, positioned at the end
    RFSV_OPEN_ACTION_MASK = 0x000F,

    RFSV_FORMAT_MASK = 0x00F0,
    RFSV_FORMAT_DIRECTORY = 0x0030,    // the path ends in a pattern; FDIRREAD lists the matches
    RFSV_FORMAT_DEVICE_LIST = 0x0050,  // no path; FDEVICEREAD lists the drives

    RFSV_OPEN_UPDATE = 0x0100,
    RFSV_OPEN_RANDOM_ACCESS = 0x0200,
};

// FSEEK modes.
enum rfsv_seek_mode : uint16 {
    RFSV_SEEK_FROM_START = 1,
    RFSV_SEEK_FROM_END = 2,
    RFSV_SEEK_FROM_CURRENT = 3,
};

// The 16-byte header before each name of an FDIRREAD reply (and the one FINFO returns):
// u16 unused, u16 attributes, u32 size, u32 modification time, u32 unused; the NUL-ended name
// follows.
enum rfsv_entry_attribute : uint16 {
    RFSV_ATTR_WRITABLE = 0x0001,
    RFSV_ATTR_DIRECTORY = 0x0010,
    RFSV_ATTR_EXECUTABLE = 0x0200,
};
constexpr size_t RFSV_ENTRY_ATTRIBUTES = 2;
constexpr size_t RFSV_ENTRY_SIZE = 4;
constexpr size_t RFSV_ENTRY_TIME = 8;
constexpr size_t RFSV_ENTRY_HEADER_SIZE = 16;

// Request layout: opcode, length, then the payload.
constexpr size_t RFSV_REQUEST_HEADER_SIZE = 4;

// Reply layout, as offsets from the start of the reply.
constexpr uint16 RFSV_REPLY_CODE = 0x2A;
constexpr size_t RFSV_REPLY_LENGTH = 2;
constexpr size_t RFSV_REPLY_STATUS = 4;
constexpr size_t RFSV_REPLY_HEADER_SIZE = 6;  // code, length, status
constexpr size_t RFSV_REPLY_DATA = 6;       // FOPEN handle, FREAD data, FSEEK position, FINFO entry
constexpr size_t RFSV_DIRREAD_ENTRIES = 8;  // FDIRREAD: two bytes, then the entries
// FDEVICEINFO, and the first part of each FDEVICEREAD reply.
constexpr size_t RFSV_INFO_MEDIA = 8;
constexpr size_t RFSV_INFO_TOTAL = 12;
constexpr size_t RFSV_INFO_FREE = 16;
constexpr size_t RFSV_INFO_VOLUME_NAME = 20;
constexpr size_t RFSV_INFO_VOLUME_NAME_SIZE = 50;
constexpr size_t RFSV_DEVICEREAD_NAME = 70;  // FDEVICEREAD: the drive's name, e.g. "M:"

// Media types in the low byte at RFSV_INFO_MEDIA that cannot be written.
enum rfsv_media_type : uint8 {
    RFSV_MEDIA_ROM = 5,
    RFSV_MEDIA_WRITE_PROTECTED = 6,  // also what a drive made read-only reports
};

// Sizes.
constexpr size_t RFSV_REQUEST_BUFFER_SIZE = 512;  // the largest request the service takes
constexpr uint16 RFSV_MAX_READ_CHUNK = 511;       // FREAD gives at most this many bytes
constexpr uint16 RFSV_MAX_WRITE_CHUNK = 503;      // FWRITE data that fits the request buffer
constexpr size_t RFSV_MAX_DIRREAD_REPLY = 590;    // FDIRREAD packs entries into this many bytes
constexpr size_t RFSV_MAX_PATH = 127;             // a device path, without its NUL
