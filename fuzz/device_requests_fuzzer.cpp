// The simulated handheld's request parsing: a run of request packets on one session of the
// Series 3 file service, its LINK server or the Series 5 file service. Input: one byte picks
// the server, then packets of [16-bit little-endian length][bytes].
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "device/Handheld.h"

namespace {

struct Devices {
    std::string folder;
    std::unique_ptr<handheld::Handheld> series3;
    std::unique_ptr<handheld::Handheld> series5;
    uint32 runs = 0;
};

Devices* devices = nullptr;

std::string MakeFolder() {
    char pattern[] = "/tmp/tavro-fuzz-device-XXXXXX";
    return mkdtemp(pattern) != nullptr ? std::string(pattern) : std::string();
}

void RemoveFolderAtExit() {
    if (devices == nullptr) return;
    std::error_code ignored;
    std::filesystem::remove_all(devices->folder, ignored);
}

Devices& TheDevices() {
    if (devices != nullptr) return *devices;
    devices = new Devices;
    devices->folder = MakeFolder();
    if (devices->folder.empty()) abort();
    atexit(RemoveFolderAtExit);
    handheld::HandheldOptions options;
    handheld::DriveSetup drive;
    drive.folder = devices->folder;
    drive.capacity = 256 * 1024;  // files made by the requests stay small
    options.drives.push_back(drive);
    devices->series3 = handheld::Handheld::Create(options);
    options.family = handheld::Family::Series5;
    devices->series5 = handheld::Handheld::Create(options);
    return *devices;
}

// Whatever earlier inputs left on the drive goes now and then, so runs stay alike.
void EmptyFolderNowAndThen(Devices& d) {
    if (++d.runs % 500 != 0) return;
    std::error_code ignored;
    for (auto& entry : std::filesystem::directory_iterator(d.folder, ignored))
        std::filesystem::remove_all(entry.path(), ignored);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    Devices& d = TheDevices();
    EmptyFolderNowAndThen(d);
    std::unique_ptr<handheld::Session> session;
    switch (data[0] % 3) {
        case 0:
            session = d.series3->Open("SYS$RFSV");
            break;
        case 1:
            session = d.series3->Open("LINK");
            break;
        case 2:
            session = d.series5->Open("SYS$RFSV");
            break;
    }
    if (!session) abort();  // both families run these servers
    size_t at = 1;
    while (at + 2 <= size) {
        size_t length = data[at] | static_cast<size_t>(data[at + 1]) << 8;
        at += 2;
        if (length > size - at) length = size - at;
        // An exact-size copy, so a read past the packet's end is caught.
        std::vector<uint8> packet(data + at, data + at + length);
        at += length;
        handheld::Bytes reply;
        (void)session->Handle(packet.data(), packet.size(), reply);
    }
    if (data[0] % 7 == 6) d.series3->LinkDropped();
    return 0;
}
