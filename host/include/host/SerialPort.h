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

// What the user is told when the port cannot be opened: `code` is open's errno, `group` the
// group that owns the device (empty when unknown).
std::string OpenRefusal(const std::string& path, int code, const std::string& group);

// The port's modem-control lines. Behind an interface because a pty has none to change:
// tests put in lines of their own to pull the cable.
class ModemLines {
public:
    virtual ~ModemLines() = default;
    // The TIOCM_* bits now; false when the port has no modem lines.
    virtual bool Read(int fd, int& bits) = 0;
};
// The kernel's lines (TIOCMGET).
std::shared_ptr<ModemLines> KernelModemLines();

class SerialPort {
public:
    // Null with a message fit for the user in `error`: missing device, no permission (and
    // which group to join), not a tty, in use by another program.
    // `lines` null: the kernel's.
    static std::unique_ptr<SerialPort> Open(const std::string& path, uint32 baud,
                                            std::string& error,
                                            std::shared_ptr<ModemLines> lines = nullptr);
    ~SerialPort();  // drops DTR and RTS and closes
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    bool SetSpeed(uint32 baud);
    uint32 Speed() const { return fBaud; }
    int Fd() const { return fFd; }
    const std::string& Path() const { return fPath; }
    // DSR from the handheld. Until DSR has once been high the answer is yes: a port without
    // modem lines (a pty), or a cable or adapter that never raises DSR, must not keep the
    // handheld out; the link's own retries then notice a pulled cable.
    bool HandheldPresent();
    bool HasModemLines() const { return fModemLines; }
    // Throws away whatever the line holds (between speeds of a search).
    void Flush();

private:
    SerialPort(int fd, std::string path, std::shared_ptr<ModemLines> lines)
        : fFd(fd), fPath(std::move(path)), fLines(std::move(lines)) {}
    int fFd;
    std::string fPath;
    std::shared_ptr<ModemLines> fLines;
    uint32 fBaud = 0;
    bool fModemLines = false;
    bool fDsrSeen = false;
};

}  // namespace vantrel
