// A serial port for the link: raw 8N1 at a chosen speed, DTR and RTS raised while open, DSR
// read to see a pulled cable, and opened exclusively so that a second program gets a clear
// refusal instead of a garbled link. A pseudo-terminal works too (it has no modem lines:
// its DSR counts as always present).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/SupportDefs.h"

namespace vantrel {

// Speeds tried when none is given: the Series 5 family's and the 3mx's first, then the
// Series 3 family's.
const std::vector<uint32>& SearchSpeeds();
bool IsSupportedSpeed(uint32 baud);

class SerialPort {
public:
    // Null with a message fit for the user in `error`: missing device, no permission (and
    // which group to join), not a tty, in use by another program.
    static std::unique_ptr<SerialPort> Open(const std::string& path, uint32 baud,
                                            std::string& error);
    ~SerialPort();  // drops DTR and RTS and closes
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    bool SetSpeed(uint32 baud);
    uint32 Speed() const { return fBaud; }
    int Fd() const { return fFd; }
    const std::string& Path() const { return fPath; }
    // DSR from the handheld; true when the port has no modem lines to read (a pty).
    bool HandheldPresent() const;
    bool HasModemLines() const { return fModemLines; }
    // Throws away whatever the line holds (between speeds of a search).
    void Flush();

private:
    SerialPort(int fd, std::string path) : fFd(fd), fPath(std::move(path)) {}
    int fFd;
    std::string fPath;
    uint32 fBaud = 0;
    bool fModemLines = false;
};

}  // namespace vantrel
