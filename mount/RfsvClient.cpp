#include "RfsvClient.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <new>

#include "MountPoint.h"
#include "kernel/syscalls.h"
#include "platform/ByteOrder.h"
#include "platform/Errors.h"
#include "platform/HostProtocol.h"
#include "platform/Series3Wire.h"

std::atomic<uint16> opidc{1};

namespace {

const char kServer[] = "SYS$RFSV";
const char kReplyPortName[] = "Tavro-Read";
const char kSemName[] = "RFSV-NCP-Write";
const char kLogPrefix[] = "RFSV-Client";
const char kSentTitle[] = "<<== Bytes sent:";
const char kReadTitle[] = "==>> Bytes read:";

// Series 3 file service replies are read into this many bytes.
constexpr size_t kSiboReplySize = 128;
// A real device ends its list after a handful of drives; one that never does must not make
// the client loop and allocate for ever.
constexpr int kMaxDrives = 26;

constexpr int32 kLinkDownBufferSize = 99;

void MakeDirectory(const char* path, mode_t mode) {
    DIR* dir = opendir(path);
    if (dir != nullptr) {
        closedir(dir);
        return;
    }
    (void)mkdir(path, mode);
}

void BuildSiboRequest(uint8* packet, uint16 opcode, uint16 word) {
    WordToBytes(opcode, packet);
    WordToBytes(2, packet + 2);
    WordToBytes(word, packet + 4);
}

}  // namespace

RfsvClient::RfsvClient(CONFIG_VAR* config, const ClientWaits& waits)
    : config(config),
      waits(waits),
      mounts(nullptr),
      writePort(-1),
      readPort(-1),
      log(nullptr),
      silentLog(nullptr, nullptr),
      sem(-1),
      portsUnavailable(false) {}

RfsvClient::~RfsvClient() {
    while (mounts != nullptr) {
        MountRecord* next = mounts->next;
        delete mounts;
        mounts = next;
    }
    if (sem >= 0) {
        delete_sem(sem);
    }
    if (log != &silentLog) {
        delete log;
    }
}

int RfsvClient::StartMount(int version) {
    printf("Start mount -- version %d\n", version);
    printf("config->debug set to: %d\n", config->debug);

    char debugFile[CONFIG_TEXT_LENGTH];
    strncpy(debugFile, config->debugFile, sizeof(debugFile) - 1);
    debugFile[sizeof(debugFile) - 1] = '\0';
    if (config->debug) {
        log = new (std::nothrow) DebugMsg(debugFile, kLogPrefix);
    } else {
        log = new (std::nothrow) DebugMsg(nullptr, nullptr);
    }
    if (log == nullptr) {
        log = &silentLog;  // no memory for a log: go on without one
    }
    mounts = nullptr;

    readPort = create_port(HOST_REPLY_PORT_CAPACITY, kReplyPortName);
    writePort = find_port(HOST_REQUEST_PORT_NAME);
    if (readPort < 0 || writePort < 0) {
        // The caller ends the thread; the reply port would outlive it otherwise.
        if (readPort >= 0) {
            delete_port(readPort);
        }
        portsUnavailable = true;
        return readPort < 0 ? readPort : writePort;
    }

    MakeMountRoot();

    log->String("Try to start the PSION-SYS$RFSV");
    uint8 connect[16];
    size_t connectSize =
        host_connect_request(connect, sizeof(connect), readPort, kServer, sizeof(connect));
    printf("RFSV start %d, %s.*\n", readPort, kServer);
    status_t written = write_port(writePort, HOST_CONNECT_REQUEST, connect, connectSize);
    if (written < 0) {
        return written;
    }

    uint8 reply[kSiboReplySize];
    int32 code = 0;
    ssize_t read = read_port_etc(readPort, &code, reply, sizeof(reply), B_TIMEOUT, waits.reply);
    if (read < 0) {
        return static_cast<int>(read);
    }
    if (!host_is_connect_reply(code)) {
        return code & HOST_CODE_KIND_MASK;
    }
    log->String("PSION-Server is running!");

    mnt block;
    memset(&block, 0, sizeof(block));
    block.channel = host_code_channel(code);
    block.writePort = writePort;
    block.readPort = readPort;

    sem_id created = create_sem(1, kSemName);
    if (created < 0) {
        return created;
    }
    sem = created;
    block.sem = sem;

    if (version > 3) {
        return MountEPOC(block);
    }
    return MountSIBO(block);
}

void RfsvClient::MakeMountRoot() {
    if (!MountRootIsUsable(config->mountPoint, sizeof(config->mountPoint))) {
        printf("Mount root \"%.*s\" refused: it must be an absolute folder other than /\n",
               static_cast<int>(strnlen(config->mountPoint, sizeof(config->mountPoint))),
               config->mountPoint);
        return;
    }
    char work[MNT_NAME_LENGTH];
    size_t length = strnlen(config->mountPoint, sizeof(config->mountPoint));
    if (length >= sizeof(work)) {
        // It could not hold a single mount point either; every drive is refused later.
        return;
    }
    memcpy(work, config->mountPoint, length);
    work[length] = '\0';
    for (size_t i = work[0] == '/' ? 1 : 0; i < length; i++) {
        if (work[i] == '/') {
            work[i] = '\0';
            MakeDirectory(work, 0700);
            work[i] = '/';
        }
    }
    MakeDirectory(work, 0700);
}

void RfsvClient::DrainReplies() {
    uint8 stale[kEpocReplySize];
    int32 code;
    for (int i = 0; i < HOST_REPLY_PORT_CAPACITY; i++) {
        if (read_port_etc(readPort, &code, stale, sizeof(stale), B_TIMEOUT, 0) < 0) {
            return;
        }
    }
}

status_t RfsvClient::Send(uint16 channel, const void* request, size_t size) {
    DrainReplies();
    return write_port(writePort, host_channel_packet(channel), request, size);
}

ssize_t RfsvClient::Receive(void* reply, size_t size, bigtime_t timeout) {
    int32 code;
    ssize_t read = read_port_etc(readPort, &code, reply, size, B_TIMEOUT, timeout);
    if (read > static_cast<ssize_t>(size)) {
        read = static_cast<ssize_t>(size);
    }
    return read;
}

ssize_t RfsvClient::Exchange(const mnt& block, const void* request, size_t size, void* reply,
                             size_t replySize, bigtime_t timeout) {
    status_t status = acquire_sem(block.sem);
    if (status != B_OK) {
        return status;
    }
    status = Send(block.channel, request, size);
    ssize_t read = status < 0 ? status : Receive(reply, replySize, timeout);
    release_sem(block.sem);
    return read;
}

MountRecord* RfsvClient::AppendRecord(const mnt& block) {
    auto* record = new (std::nothrow) MountRecord;
    if (record == nullptr) {
        return nullptr;
    }
    memcpy(&record->block, &block, sizeof(block));
    memset(record->block.next, 0, sizeof(record->block.next));
    record->next = nullptr;
    MountRecord** tail = &mounts;
    while (*tail != nullptr) {
        tail = &(*tail)->next;
    }
    *tail = record;
    return record;
}

void RfsvClient::SetDebugFile(mnt& block) {
    if (!config->debug) {
        return;
    }
    size_t length = strnlen(config->debugFile, sizeof(config->debugFile));
    if (length >= sizeof(block.debugFile)) {
        // A shortened path would name another file; the file systems go without one.
        block.debugFile[0] = '\0';
        return;
    }
    memcpy(block.debugFile, config->debugFile, length);
    block.debugFile[length] = '\0';
}

int RfsvClient::MountSIBO(mnt& block) {
    uint8 request[6];
    uint8 reply[kSiboReplySize];

    BuildSiboRequest(request, FOPEN, RFSV_FORMAT_DEVICE_LIST);
    status_t status = Send(block.channel, request, sizeof(request));
    log->String("FOPEN");
    log->Buffer(request, sizeof(request), kSentTitle);
    ssize_t read = status < 0 ? status : Receive(reply, sizeof(reply), waits.reply);
    if (read < static_cast<ssize_t>(RFSV_REPLY_HEADER_SIZE)) {
        return read < 0 ? static_cast<int>(read) : B_IO_ERROR;
    }
    log->Buffer(reply, static_cast<uint32>(read), kReadTitle);
    if (BytesToWord(reply + RFSV_REPLY_STATUS) != 0 ||
        read < static_cast<ssize_t>(RFSV_REPLY_DATA + 2)) {
        log->String("Error in OPENDEV! Mount canceled!\n");
        return B_ERROR;
    }
    uint16 handle = BytesToUword(reply + RFSV_REPLY_DATA);

    for (int drives = 0; drives < kMaxDrives; drives++) {
        BuildSiboRequest(request, FDEVICEREAD, handle);
        status = acquire_sem(block.sem);
        if (status != B_OK) {
            break;
        }
        log->String("FDEVICEREAD");
        log->Buffer(request, sizeof(request), kSentTitle);
        status = Send(block.channel, request, sizeof(request));
        read = status < 0 ? status : Receive(reply, sizeof(reply), waits.reply);
        release_sem(block.sem);
        if (read < static_cast<ssize_t>(RFSV_REPLY_HEADER_SIZE)) {
            break;
        }
        log->Buffer(reply, static_cast<uint32>(read), kReadTitle);
        if (BytesToWord(reply + RFSV_REPLY_STATUS) != 0) {
            break;  // the end of the device list
        }
        if (!CopyReplyString(reply, read, RFSV_DEVICEREAD_NAME, block.device,
                             sizeof(block.device))) {
            printf("Bad device name in FDEVICEREAD reply, drive skipped\n");
            continue;
        }
        printf("Device: %s\n", block.device);

        uint8 info[4 + MNT_NAME_LENGTH];
        uint16 length = static_cast<uint16>(strlen(block.device) + 1);
        WordToBytes(FDEVICEINFO, info);
        WordToBytes(length, info + 2);
        memcpy(info + 4, block.device, length);
        read = Exchange(block, info, 4 + length, reply, sizeof(reply), waits.reply);
        if (read < static_cast<ssize_t>(RFSV_REPLY_HEADER_SIZE)) {
            continue;
        }
        if (BytesToWord(reply + RFSV_REPLY_STATUS) != 0) {
            printf("DEVICE %s not available!\n", block.device);
            continue;
        }
        char volume[MNT_NAME_LENGTH];
        if (!CopyReplyString(reply, read, RFSV_INFO_VOLUME_NAME, volume, sizeof(volume))) {
            printf("DEVICE %s volume name not terminated, drive skipped\n", block.device);
            continue;
        }

        SetDebugFile(block);
        if (PlanMountPoint(block, volume) != B_OK) {
            continue;
        }
        printf("DEVICE %s should be mounted to %s\n", block.device, block.path);
        bool made = mkdir(block.path, 0755) == 0;
        MountRecord* record = AppendRecord(block);
        if (record != nullptr) {
            record->madeMountPoint = made;
        } else if (made) {
            (void)rmdir(block.path);
        }
    }

    BuildSiboRequest(request, FCLOSE, handle);
    log->String("FCLOSE");
    log->Buffer(request, sizeof(request), kSentTitle);
    status = Send(block.channel, request, sizeof(request));
    read = status < 0 ? status : Receive(reply, sizeof(reply), waits.reply);
    if (read >= 0) {
        log->Buffer(reply, static_cast<uint32>(read), kReadTitle);
    }

    MountAll("tavro3");
    return B_OK;
}

status_t RfsvClient::PlanMountPoint(mnt& block, const char* volume) {
    // An unlabelled drive gets a mount point named after its letter rather than the root's.
    char letter[2] = {block.device[0], '\0'};
    const char* name = volume[0] != '\0' ? volume : letter;
    status_t status = MakeMountPointPath(config->mountPoint, sizeof(config->mountPoint), name,
                                         block.path, sizeof(block.path));
    if (status == B_BAD_VALUE) {
        printf("DEVICE %s skipped: the mount root is not an absolute folder other than /\n",
               block.device);
        return status;
    }
    if (status == B_NOT_ALLOWED) {
        printf("DEVICE %s volume name \"%s\" refused, drive skipped\n", block.device, volume);
        return status;
    }
    if (status != B_OK) {
        printf("DEVICE %s mount point too long, drive skipped\n", block.device);
        return status;
    }
    for (MountRecord* record = mounts; record != nullptr; record = record->next) {
        if (strcmp(record->block.path, block.path) == 0) {
            printf("DEVICE %s skipped: its mount point %s is taken by drive %s\n", block.device,
                   block.path, record->block.device);
            return B_FILE_EXISTS;
        }
    }
    return B_OK;
}

void RfsvClient::MountAll(const char* fileSystem) {
    int mounted = 0;
    int tried = 0;
    for (MountRecord* record = mounts; record != nullptr; record = record->next) {
        mnt& block = record->block;
        int result = mount(fileSystem, block.path, nullptr, 0, &block, sizeof(block));
        tried++;
        if (result == 0) {
            block.mounted = 1;
            mounted++;
            printf("Drive %s mounted at %s\n", block.device, block.path);
            continue;
        }
        printf("Drive %s NOT mounted at %s: %s\n", block.device, block.path, be_strerror(result));
        // Nothing will be mounted there: the directory the client made goes again.
        if (record->madeMountPoint && rmdir(block.path) == 0) {
            record->madeMountPoint = false;
        }
    }
    if (mounted == 0) {
        printf(tried == 0 ? "No drive of the handheld could be mounted: none was found\n"
                          : "No drive of the handheld could be mounted\n");
    }
}

void RfsvClient::Pause(bigtime_t pause) {
    // In short steps: the host sends the link-down message again when it has detached the
    // mounts that held the unmount up, and then the next try need not wait.
    constexpr bigtime_t kStep = 50000;
    thread_id self = find_thread(nullptr);
    for (bigtime_t slept = 0; slept < pause; slept += kStep) {
        if (has_data(self)) {
            char message[kLinkDownBufferSize];
            thread_id sender;
            (void)receive_data(&sender, message, sizeof(message));
            return;
        }
        snooze(kStep);
    }
}

void RfsvClient::WaitForShutdown() {
    char message[kLinkDownBufferSize];
    for (;;) {
        thread_id sender;
        int32 code = receive_data(&sender, message, sizeof(message));
        if (code == HOST_LINK_DOWN) {
            break;
        }
        if (code < 0) {
            snooze(waits.unmountPause / 10);  // no busy loop should the queue itself fail
        }
    }
    log->String("Received PSION_DISC");

    bigtime_t pause = waits.unmountPause;
    bool failed;
    do {
        failed = false;
        for (MountRecord* record = mounts; record != nullptr; record = record->next) {
            mnt& block = record->block;
            if (block.mounted != 1) {
                continue;
            }
            int result = unmount(block.path);
            char line[MNT_NAME_LENGTH + 128];
            snprintf(line, sizeof(line), "Unmounting %s -> %s", block.path, be_strerror(result));
            log->String(line);
            if (result == 0) {
                block.mounted = 0;
                if (record->madeMountPoint && rmdir(block.path) == 0) {
                    record->madeMountPoint = false;
                }
            } else {
                failed = true;
            }
        }
        if (failed) {
            Pause(pause);
            pause += waits.unmountPause;
        }
    } while (failed);

    delete_port(readPort);
}
