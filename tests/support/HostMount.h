// The in-process host with a simulated handheld, a raw channel to its file server, and file
// systems mounted by hand through the kernel on the handheld's drives: what the stack tests, the
// model runs and the file-system benchmarks stand on.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "RawChannel.h"
#include "host/HostLink.h"

// A drive of the simulated handheld whose files are those of the host folder `folder`.
vantrel::DriveSetup HostDrive(char letter, const std::string& volume, const std::string& folder,
                              uint32 capacity = 8 * 1024 * 1024);

struct HostMount {
    HostMount() = default;
    ~HostMount();  // Stop()
    HostMount(const HostMount&) = delete;
    HostMount& operator=(const HostMount&) = delete;

    // Starts the host and its link, connects to the file server and makes the semaphore the
    // file systems share for writing to it.
    status_t Start(const vantrel::HostOptions& options, bigtime_t connectTimeout = 3000000);
    // Mounts the file system `fileSystem` ("tavro3", "tavro5") on the drive `device` ("M:")
    // at `where`.
    status_t Mount(const char* fileSystem, const char* device, const std::string& where,
                   const std::string& debugFile = "");
    // Unmounts what Mount mounted, brings the link down and stops the host: B_OK, or the first
    // status an unmount gave.
    status_t Stop();

    // Requests of one opcode sent on our channel so far.
    uint32 Sent(uint16 opcode);

    std::unique_ptr<vantrel::HostLink> host;
    std::unique_ptr<vantrel::RawChannel> channel;
    sem_id sem = -1;
    std::vector<std::string> mounted;
};
