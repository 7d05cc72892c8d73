// The handheld's side of the wire: Series 3 remote file service opcodes and statuses, the
// Series 5 requests the desktop uses, and the LINK server's register request.
#pragma once

#include "platform/SupportDefs.h"

namespace handheld {

// Series 3 remote file service request opcodes.
enum Series3Opcode : uint16 {
    kFopen = 0,
    kFclose = 2,
    kFread = 4,
    kFdirread = 6,
    kFdeviceread = 8,
    kFwrite = 10,
    kFseek = 12,
    kRename = 18,
    kDelete = 20,
    kFinfo = 22,
    kMkdir = 28,
    kFdeviceinfo = 32,
    kSfdate = 40,
};

// Device statuses (signed 16-bit on the wire).
enum DeviceStatus : int16 {
    kStatusOk = 0,
    kStatusGeneralFailure = -1,
    kStatusBadArgument = -2,   // malformed request
    kStatusNotSupported = -4,  // opcode the service does not know
    kStatusBadHandle = -8,     // handle not open, or open for something else
    kStatusTooManyOpen = -9,
    kStatusExists = -32,
    kStatusNotFound = -33,
    kStatusEndOfFile = -36,
    kStatusDiskFull = -37,
    kStatusBadName = -38,
    kStatusAccessDenied = -39,
    kStatusNoSuchDevice = -41,
    kStatusNoSuchDirectory = -42,
    kStatusReadOnlyFile = -44,
    kStatusWriteProtected = -65,
};

// FOPEN mode word. The low four bits say what to do with the name, the format nibble says
// what is opened, 0x0100 asks for write access.
enum OpenMode : uint16 {
    kOpenExisting = 0x0,
    kOpenCreate = 0x1,   // a new file; the name must not exist
    kOpenReplace = 0x2,  // create, or truncate an existing file
    kOpenAppend = 0x3,   // open or create, positioned at the end
    kOpenActionMask = 0x000F,

    kFormatMask = 0x00F0,
    kFormatDirectory = 0x0030,   // path ends in a pattern; FDIRREAD lists the matches
    kFormatDeviceList = 0x0050,  // no path; FDEVICEREAD lists the drives

    kOpenUpdate = 0x0100,
    kOpenRandomAccess = 0x0200,
};

// FSEEK modes.
enum SeekMode : uint16 {
    kSeekFromStart = 1,
    kSeekFromEnd = 2,
    kSeekFromCurrent = 3,
};

// Attribute word of a directory entry.
enum EntryAttribute : uint16 {
    kAttrWritable = 0x0001,
    kAttrDirectory = 0x0010,
    kAttrExecutable = 0x0200,
};

// Every Series 3 reply starts with this response code.
constexpr uint16 kSeries3ResponseCode = 0x2A;
// FREAD never gives more than this many bytes at once.
constexpr size_t kMaxReadChunk = 511;
// FDIRREAD packs entries into replies of at most this many bytes.
constexpr size_t kMaxDirReadReply = 590;
// Device paths are at most this long (without their NUL).
constexpr size_t kMaxDevicePath = 127;

// Reply layout of FDEVICEINFO (and the first part of FDEVICEREAD's), as reply offsets.
constexpr size_t kInfoMediaTypeOffset = 8;
constexpr size_t kInfoTotalOffset = 12;
constexpr size_t kInfoFreeOffset = 16;
constexpr size_t kInfoVolumeNameOffset = 20;
constexpr size_t kInfoVolumeNameSize = 50;
constexpr size_t kDeviceReadNameOffset = 70;

// Series 5 requests the desktop sends to SYS$RFSV, and their reply layout.
enum Series5Request : uint16 {
    kEpocDriveList = 0x13,
    kEpocDriveInfo = 0x14,
};
constexpr uint16 kSeries5ResponseCode = 0x11;
constexpr size_t kEpocHeaderSize = 8;  // code, operation id, int32 status
constexpr size_t kEpocDriveCount = 26;
constexpr size_t kEpocNameLengthOffset = 44;
constexpr size_t kEpocNameOffset = 48;
constexpr int32 kEpocNotSupported = -5;
constexpr int32 kEpocNotReady = -18;

// LINK server: register request {uint8 command 0, uint16 check value, name NUL} and its
// 39-byte reply {uint8 code, uint16 check value, int16 status, uint16 unused, char name[32]}.
constexpr uint8 kLinkRegister = 0;
constexpr size_t kLinkReplySize = 39;
constexpr size_t kLinkNameSize = 32;

}  // namespace handheld
