#include "host/SerialPort.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vantrel {

namespace {

speed_t SpeedCode(uint32 baud) {
    switch (baud) {
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        default:
            return 0;
    }
}

std::string GroupOf(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return "";
    struct group* entry = getgrgid(st.st_gid);
    return entry != nullptr ? entry->gr_name : std::to_string(st.st_gid);
}

class KernelLines : public ModemLines {
public:
    bool Read(int fd, int& bits) override { return ioctl(fd, TIOCMGET, &bits) == 0; }
};

}  // namespace

std::shared_ptr<ModemLines> KernelModemLines() { return std::make_shared<KernelLines>(); }

std::string OpenRefusal(const std::string& path, int code, const std::string& group) {
    if (code == ENOENT || code == ENODEV || code == ENXIO)
        return path + ": no such device (is the serial adapter plugged in?)";
    if (code == EACCES || code == EPERM) {
        std::string text = "no permission to open " + path;
        if (!group.empty())
            text += ": join the group '" + group + "' (sudo usermod -aG " + group +
                    " $USER, then log in again)";
        return text;
    }
    if (code == EBUSY) return path + " is in use by another program";
    return path + ": " + strerror(code);
}

const std::vector<uint32>& SearchSpeeds() {
    static const std::vector<uint32> speeds{115200, 57600, 38400, 19200, 9600};
    return speeds;
}

bool IsSupportedSpeed(uint32 baud) { return SpeedCode(baud) != 0; }

std::unique_ptr<SerialPort> SerialPort::Open(const std::string& path, uint32 baud,
                                             std::string& error,
                                             std::shared_ptr<ModemLines> lines) {
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        int code = errno;
        error = OpenRefusal(path, code, code == EACCES || code == EPERM ? GroupOf(path) : "");
        return nullptr;
    }
    if (!isatty(fd)) {
        close(fd);
        error = path + " is not a serial port (not a tty)";
        return nullptr;
    }
    // Two programs on one line garble each other: the second one is refused. The lock also
    // holds against root, whom TIOCEXCL does not stop.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        error = path + " is in use by another program (another vantrel?)";
        return nullptr;
    }
    ioctl(fd, TIOCEXCL);
    if (!lines) lines = KernelModemLines();
    std::unique_ptr<SerialPort> port(new SerialPort(fd, path, std::move(lines)));
    int bits;
    port->fModemLines = port->fLines->Read(fd, bits);
    if (!port->SetSpeed(baud)) {
        error = path + ": cannot set " + std::to_string(baud) + " baud, 8N1: " + strerror(errno);
        return nullptr;
    }
    if (port->fModemLines) {
        int raise = TIOCM_DTR | TIOCM_RTS;
        ioctl(fd, TIOCMBIS, &raise);
    }
    return port;
}

SerialPort::~SerialPort() {
    if (fModemLines) {
        int drop = TIOCM_DTR | TIOCM_RTS;
        ioctl(fFd, TIOCMBIC, &drop);
    }
    ioctl(fFd, TIOCNXCL);
    flock(fFd, LOCK_UN);
    close(fFd);
}

bool SerialPort::SetSpeed(uint32 baud) {
    speed_t code = SpeedCode(baud);
    if (code == 0) {
        errno = EINVAL;
        return false;
    }
    termios tio;
    if (tcgetattr(fFd, &tio) != 0) return false;
    cfmakeraw(&tio);
    tio.c_cflag &= ~(CSTOPB | PARENB | CRTSCTS | CSIZE);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    cfsetispeed(&tio, code);
    cfsetospeed(&tio, code);
    if (tcsetattr(fFd, TCSANOW, &tio) != 0) return false;
    fBaud = baud;
    return true;
}

bool SerialPort::HandheldPresent() {
    if (!fModemLines) return true;
    int bits = 0;
    if (!fLines->Read(fFd, bits)) return true;
    if (bits & TIOCM_DSR) fDsrSeen = true;
    return (bits & TIOCM_DSR) != 0 || !fDsrSeen;
}

void SerialPort::Flush() { tcflush(fFd, TCIOFLUSH); }

}  // namespace vantrel
