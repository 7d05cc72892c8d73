// One drive M: of the host's simulated Series 3, on a temporary folder, mounted through the
// kernel for the file-system benchmarks.
#pragma once

#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "host/HostLink.h"
#include "host/RawChannel.h"
#include "kernel/syscalls.h"
#include "platform/ByteOrder.h"

struct Mounted {
    std::string folder;
    std::string where = "/bench/INTERNAL";
    std::unique_ptr<vantrel::HostLink> host;
    std::unique_ptr<vantrel::RawChannel> channel;
    sem_id sem = -1;
    bool ok = false;

    explicit Mounted(handheld::LinkSpeed speed, bool keepRecords = false) {
        std::string pattern = std::filesystem::temp_directory_path() / "tavro3-bench-XXXXXX";
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        if (mkdtemp(buffer.data()) == nullptr) return;
        folder = buffer.data();
        vantrel::HostOptions options;
        vantrel::DriveSetup drive;
        drive.folder = folder;
        drive.capacity = 16 * 1024 * 1024;
        options.drives.push_back(drive);
        options.speed = speed;
        options.traceInMemory = keepRecords;
        host = std::make_unique<vantrel::HostLink>(options);
        if (host->Start() != B_OK || host->LinkUp() != B_OK) return;
        channel = std::make_unique<vantrel::RawChannel>();
        if (channel->Connect("SYS$RFSV", 10000000) != B_OK) return;
        sem = create_sem(1, "RFSV-NCP-Write");
        uint8 block[408] = {};
        LongToBytes(static_cast<uint32>(host->RequestPort()), block + 4);
        LongToBytes(static_cast<uint32>(channel->ReplyPort()), block + 8);
        WordToBytes(channel->Channel(), block + 12);
        LongToBytes(static_cast<uint32>(sem), block + 16);
        memcpy(block + 20, "M:", 2);
        kernel_set_addon_path(TAVRO_FS_ADDON_DIR);
        ok = mount("tavro3", where.c_str(), nullptr, 0, block, sizeof block) == B_OK;
        host->Trace().Reset();
    }
    ~Mounted() {
        if (ok) unmount(where.c_str());
        channel.reset();
        if (host) host->LinkDown();
        host.reset();
        if (sem >= 0) delete_sem(sem);
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
    uint32 Sent(uint16 opcode) { return host->Trace().CountRequests(channel->Channel(), opcode); }
    std::string Path(const char* name) const { return where + "/" + name; }
};
