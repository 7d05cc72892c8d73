// The Series 5 remote file service ("SYS$RFSV" of the newer family) on the wire: request
// opcodes, statuses, entry attributes, open modes and the reply layout. The desktop's file
// system and mount client and the simulated handheld all speak from this one vocabulary.
//
// Request: op(u16) opid(u16) fields. Reply: 0x0011 opid(u16) status(i32) data. Fields are
// little-endian u32 unless said otherwise; strings are len(u16) then Windows-1252 bytes.
#pragma once

#include <cstddef>

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
    kBadHandle = -8,
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

// Seek sense: from the start of the file, from the current position, and from its end.
constexpr uint32 kSeekStart = 1;
constexpr uint32 kSeekCurrent = 2;
constexpr uint32 kSeekEnd = 3;

constexpr uint16 kResponseCode = 0x11;
constexpr size_t kHeaderSize = 8;  // code, opid, status
// The family reads and writes at most this many bytes a request.
constexpr size_t kMaxChunk = 2048;
// The largest frame the service sends.
constexpr size_t kMaxReply = 2079;
// Paths (drive, separators and names, in wire bytes) are at most this long.
constexpr size_t kMaxPath = 256;

// Drive list reply: after the header, one byte per drive letter A to Z, non-zero when present.
constexpr size_t kDriveCount = 26;
constexpr size_t kDriveListReplySize = kHeaderSize + kDriveCount;
// Volume reply (request: the drive's index, 0 for A): after the header media, battery, drive
// attributes, media attributes, unique id, size lo/hi, free lo/hi, label length (u32 each),
// then the label.
constexpr size_t kVolumeFieldCount = 10;
constexpr size_t kVolumeLabelLength = kHeaderSize + 36;
constexpr size_t kVolumeLabel = kHeaderSize + 40;

}  // namespace epoc
