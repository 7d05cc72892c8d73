// One drive of a simulated handheld: which letter it answers to, what it is called, which host
// folder holds its files and what kind of medium it pretends to be.
#pragma once

#include <string>

#include "platform/SupportDefs.h"

namespace handheld {

// Media types a Series 3 reports in the low byte of its device information. Types 5 and 6 are
// read-only media; a drive made read-only reports 6.
enum MediaType : uint8 {
    kMediaNotPresent = 0,
    kMediaUnknown = 1,
    kMediaFloppy = 2,
    kMediaDisk = 3,
    kMediaFlash = 4,
    kMediaRom = 5,
    kMediaWriteProtected = 6,
    kMediaRam = 7,
};

struct DriveSetup {
    char letter = 'M';  // "M:" is a Series 3's internal drive
    std::string volumeName = "INTERNAL";
    std::string folder;  // host folder whose contents are the drive's files
    uint8 mediaType = kMediaRam;
    uint32 capacity = 2 * 1024 * 1024;  // bytes; writes beyond it are refused as "disk full"
    bool readOnly = false;              // also implied by media types 5 and 6

    bool IsReadOnly() const {
        return readOnly || mediaType == kMediaRom || mediaType == kMediaWriteProtected;
    }
    // What the drive reports as its media type: a drive made read-only by its flag shows as
    // write-protected so that the desktop can tell.
    uint8 ReportedMediaType() const {
        if (readOnly && !IsReadOnlyType(mediaType)) return kMediaWriteProtected;
        return mediaType;
    }
    static bool IsReadOnlyType(uint8 type) {
        return type == kMediaRom || type == kMediaWriteProtected;
    }
};

}  // namespace handheld
