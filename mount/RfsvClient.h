// The mount client of one connection: starts the device's remote file service, mounts every
// drive of the device under the mount root and unmounts them again when the link goes down.
#pragma once

#include <atomic>

#include "ClientWaits.h"
#include "ConfigVar.h"
#include "MountBlock.h"
#include "debugMsg.h"
#include "platform/OS.h"

// Operation ids of Series 5 requests. Starts at 1 when the add-on is loaded and runs on across
// connections, wrapping from 65535 to 0.
extern std::atomic<uint16> opidc;

// Series 5 file service replies are read into this many bytes: the largest reply of either
// family.
inline constexpr size_t kEpocReplySize = 264;

class RfsvClient {
public:
    explicit RfsvClient(CONFIG_VAR* config, const ClientWaits& waits = ClientWaits{});
    // Releases what the connection held: the mount records, the semaphore and the log.
    ~RfsvClient();

    RfsvClient(const RfsvClient&) = delete;
    RfsvClient& operator=(const RfsvClient&) = delete;

    // Opens the connection and mounts the device's drives; `version` 3 or less is a Series 3,
    // more is a Series 5. Returns the status of the first step that failed, the masked code
    // of a connect answer that is not a connect reply, or the family sequence's result.
    int StartMount(int version);
    // True when StartMount found no reply port or no "WritePsion": the thread must end.
    bool PortsUnavailable() const { return portsUnavailable; }

    int MountSIBO(mnt& block);
    int MountEPOC(mnt& block);

    // Waits for the link-down message, unmounts every mounted drive (in passes with a growing
    // pause until all have gone, removing each mount point the client made) and deletes the
    // reply port. A further link-down message cuts the pause short.
    void WaitForShutdown();

private:
    // Drops replies that arrived after their request timed out: replies carry no tag, so a
    // late one would otherwise be taken as the answer to the next request.
    void DrainReplies();
    [[nodiscard]] status_t Send(uint16 channel, const void* request, size_t size);
    [[nodiscard]] ssize_t Receive(void* reply, size_t size, bigtime_t timeout);
    // Send and Receive under the connection's semaphore.
    [[nodiscard]] ssize_t Exchange(const mnt& block, const void* request, size_t size, void* reply,
                                   size_t replySize, bigtime_t timeout);

    void MakeMountRoot();
    // Heap copy of `block` appended to `mounts`; false when there is no memory.
    MountRecord* AppendRecord(const mnt& block);
    // The configured debug file into the block, when debugging is on and it fits.
    void SetDebugFile(mnt& block);
    // The block's mount point for a drive with the volume name `volume` (the drive's letter
    // when it has none); B_OK, else the drive is skipped with a line on standard output.
    [[nodiscard]] status_t PlanMountPoint(mnt& block, const char* volume);
    // Mounts every record and says on standard output what came of each, and when nothing
    // could be mounted; a failed drive's mount point, made for it, is removed.
    void MountAll(const char* fileSystem);
    // Sleeps up to `pause`, less when a thread message arrives.
    void Pause(bigtime_t pause);

    CONFIG_VAR* config;
    ClientWaits waits;
    MountRecord* mounts;
    port_id writePort;
    port_id readPort;
    DebugMsg* log;
    DebugMsg silentLog;  // stands in for `log` when there is no memory for one
    sem_id sem;
    bool portsUnavailable;
};
