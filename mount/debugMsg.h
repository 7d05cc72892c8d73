// The mount client's debug log: text lines and hex/ASCII dumps of the packets exchanged with
// the device, each line headed by a fixed prefix, in a plain text file.
#pragma once

#include "platform/SupportDefs.h"

class DebugMsg {
public:
    // Either argument may be null; the object then stays off for its whole life and never
    // touches a file or standard output.
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
    bool IsOn() const { return path != nullptr && prefix != nullptr; }

    char* path;    // owned copy; null = off
    char* prefix;  // owned copy; null = off
};
