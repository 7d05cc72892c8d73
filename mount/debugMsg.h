// The mount client's debug log: text lines and hex/ASCII dumps of the packets that list the
// device's drives, each line headed by a fixed prefix, in a plain text file. The file is only
// ever appended to; it is opened without following a symbolic link and without waiting, and
// anything but a regular file of the user's own (or a new one, made 0600) is refused.
#pragma once

#include <cstdio>

#include "platform/SupportDefs.h"

class DebugMsg {
public:
    // Either argument may be null; the object then stays off for its whole life and never
    // touches a file or standard output. Writes a "Startup!" line at the end of the file; a
    // file that is refused is named on standard output once.
    DebugMsg(const char* path, const char* prefix);
    ~DebugMsg();

    DebugMsg(const DebugMsg&) = delete;
    DebugMsg& operator=(const DebugMsg&) = delete;

    // One line "<prefix>: <message>", in the file and on standard output.
    void String(const char* message);
    // An optional title line (file and standard output), then the bytes as one HEX line and one
    // ASCII line (file only), each character under its hex value.
    void Buffer(const void* bytes, uint32 count, const char* title);

private:
    // The log opened for appending, or null; `refusal` says why a file that is there was
    // refused (null when it could just not be opened).
    static FILE* OpenLog(const char* path, const char** refusal);
    bool IsOn() const { return path != nullptr && prefix != nullptr; }
    // The log for one more entry: null when off or when it cannot be opened.
    FILE* OpenEntry() const;

    char* path;    // owned copy; null = off
    char* prefix;  // owned copy; null = off
};
