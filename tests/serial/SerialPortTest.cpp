// Opening a serial port: the refusals a user meets, each with a message that says what to do.
#include <grp.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "host/SerialOptions.h"
#include "host/SerialPort.h"

namespace {

using vantrel::SerialPort;

TEST(SerialPort, MissingDeviceNotATtyAndBadSpeedAreRefusedClearly) {
    std::string error;
    EXPECT_EQ(SerialPort::Open("/dev/ttyNOSUCH9", 19200, error), nullptr);
    EXPECT_NE(error.find("no such device"), std::string::npos) << error;

    EXPECT_EQ(SerialPort::Open("/dev/null", 19200, error), nullptr);
    EXPECT_NE(error.find("not a tty"), std::string::npos) << error;

    int master, slave;
    char name[128];
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    EXPECT_EQ(SerialPort::Open(name, 12345, error), nullptr);
    EXPECT_NE(error.find("12345"), std::string::npos) << error;
    close(master);
    close(slave);
}

TEST(SerialPort, NoPermissionNamesTheGroupToJoin) {
    if (geteuid() == 0) GTEST_SKIP() << "root opens every device";
    int master, slave;
    char name[128];
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    ASSERT_EQ(chmod(name, 0), 0);
    std::string error;
    EXPECT_EQ(SerialPort::Open(name, 19200, error), nullptr);
    EXPECT_NE(error.find("no permission"), std::string::npos) << error;
    // A pty belongs to the group of its owner's terminals (usually "tty").
    struct stat st;
    ASSERT_EQ(stat(name, &st), 0);
    struct group* owner = getgrgid(st.st_gid);
    ASSERT_NE(owner, nullptr);
    EXPECT_NE(error.find(std::string("join the group '") + owner->gr_name + "'"), std::string::npos)
        << error;
    close(master);
    close(slave);
}

TEST(SerialPort, RefusalMessagesSayWhatToDo) {
    using vantrel::OpenRefusal;
    std::string denied = OpenRefusal("/dev/ttyUSB0", EACCES, "dialout");
    EXPECT_EQ(denied,
              "no permission to open /dev/ttyUSB0: join the group 'dialout' (sudo usermod -aG "
              "dialout $USER, then log in again)");
    EXPECT_NE(OpenRefusal("/dev/ttyS1", EPERM, "uucp").find("join the group 'uucp'"),
              std::string::npos);
    // No group known: no advice that could be wrong.
    EXPECT_EQ(OpenRefusal("/dev/ttyUSB0", EACCES, ""), "no permission to open /dev/ttyUSB0");
    for (int gone : {ENOENT, ENODEV, ENXIO})
        EXPECT_NE(OpenRefusal("/dev/ttyUSB0", gone, "").find("no such device"), std::string::npos);
    EXPECT_NE(OpenRefusal("/dev/ttyUSB0", EBUSY, "").find("in use by another program"),
              std::string::npos);
    EXPECT_NE(OpenRefusal("/dev/ttyUSB0", EIO, "").find(strerror(EIO)), std::string::npos);
}

TEST(SerialPort, SecondOpenOfTheSamePortIsRefused) {
    int master, slave;
    char name[128];
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    std::string error;
    auto first = SerialPort::Open(name, 115200, error);
    ASSERT_NE(first, nullptr) << error;
    EXPECT_EQ(SerialPort::Open(name, 115200, error), nullptr);
    EXPECT_NE(error.find("in use"), std::string::npos) << error;
    // Raw 8N1 at the speed asked; a pty has no modem lines, so the handheld counts as there.
    termios tio;
    ASSERT_EQ(tcgetattr(first->Fd(), &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), B115200);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB), 0u);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO), 0u);
    EXPECT_FALSE(first->HasModemLines());
    EXPECT_TRUE(first->HandheldPresent());
    first.reset();
    // Closed: free again.
    EXPECT_NE(SerialPort::Open(name, 19200, error), nullptr) << error;
    close(master);
    close(slave);
}

TEST(SerialOptions, ParsesAndRefusesBadValues) {
    auto parse = [](std::vector<const char*> args, vantrel::SerialOptions& options,
                    std::string& error) {
        args.insert(args.begin(), "vantrel");
        int result = 1;
        for (int i = 1; i < static_cast<int>(args.size()) && result > 0; ++i)
            result = vantrel::ParseSerialOption(static_cast<int>(args.size()), args.data(), i,
                                                options, error);
        return result;
    };
    vantrel::SerialOptions options;
    std::string error;
    EXPECT_EQ(parse({"--port", "/dev/ttyUSB0", "--baud", "57600", "--send-window", "4",
                     "--line-fault", "flip:3x2", "--line-fault", "cut:10:500", "--pty"},
                    options, error),
              1)
        << error;
    EXPECT_EQ(options.port, "/dev/ttyUSB0");
    EXPECT_EQ(options.baud, 57600u);
    EXPECT_EQ(options.sendWindow, 4u);
    ASSERT_EQ(options.lineFaults.size(), 2u);
    EXPECT_EQ(options.lineFaults[0].count, 2u);
    EXPECT_EQ(options.lineFaults[1].value, 500u);
    EXPECT_TRUE(options.simulateOnPty);
    for (std::vector<const char*> bad : {std::vector<const char*>{"--baud", "12345"},
                                         {"--baud"},
                                         {"--send-window", "9"},
                                         {"--send-window", "0"},
                                         {"--line-fault", "flip:0"},
                                         {"--line-fault", "delay:3"},
                                         {"--line-fault", "corrupt:101"},
                                         {"--line-fault", "wobble:1"}}) {
        vantrel::SerialOptions o;
        EXPECT_EQ(parse(bad, o, error), -1) << bad[0];
    }
    int i = 1;
    const char* other[] = {"vantrel", "--series3"};
    EXPECT_EQ(vantrel::ParseSerialOption(2, other, i, options, error), 0);
}

}  // namespace
