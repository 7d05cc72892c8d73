#include "HostMount.h"

#include "MountBlockBytes.h"
#include "kernel/syscalls.h"

vantrel::DriveSetup HostDrive(char letter, const std::string& volume, const std::string& folder,
                              uint32 capacity) {
    vantrel::DriveSetup drive;
    drive.letter = letter;
    drive.volumeName = volume;
    drive.folder = folder;
    drive.capacity = capacity;
    return drive;
}

HostMount::~HostMount() { (void)Stop(); }

status_t HostMount::Start(const vantrel::HostOptions& options, bigtime_t connectTimeout) {
    host = std::make_unique<vantrel::HostLink>(options);
    status_t status = host->Start();
    if (status == B_OK) status = host->LinkUp();
    if (status != B_OK) return status;
    channel = std::make_unique<vantrel::RawChannel>();
    status = channel->Connect("SYS$RFSV", connectTimeout);
    if (status != B_OK) return status;
    sem = create_sem(1, "RFSV-NCP-Write");
    if (sem < 0) return sem;
    kernel_set_addon_path(TAVRO_FS_ADDON_DIR);
    return B_OK;
}

status_t HostMount::Mount(const char* fileSystem, const char* device, const std::string& where,
                          const std::string& debugFile) {
    MountBlockBytes block =
        MakeMountBlock(host->RequestPort(), channel->ReplyPort(), channel->Channel(), sem, device,
                       where.c_str(), debugFile.c_str());
    status_t status = mount(fileSystem, where.c_str(), nullptr, 0, block.data(), block.size());
    if (status == B_OK) mounted.push_back(where);
    return status;
}

status_t HostMount::Stop() {
    status_t first = B_OK;
    for (const std::string& where : mounted) {
        status_t status = unmount(where.c_str());
        if (first == B_OK) first = status;
    }
    mounted.clear();
    channel.reset();
    if (host) (void)host->LinkDown();
    host.reset();
    if (sem >= 0) delete_sem(sem);
    sem = -1;
    return first;
}

uint32 HostMount::Sent(uint16 opcode) {
    return host->Trace().CountRequests(channel->Channel(), opcode);
}
