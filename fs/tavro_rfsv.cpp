#include "tavro_rfsv.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include "debug.h"
#include "platform/ByteOrder.h"
#include "platform/HostProtocol.h"

// --- request builders ---------------------------------------------------------------------------

namespace {

void put_header(uint8* out, uint16 opcode, size_t payload) {
    WordToBytes(opcode, out);
    WordToBytes(static_cast<uint16>(payload), out + 2);
}

}  // namespace

size_t build_path_request(uint8* out, size_t capacity, uint16 opcode, const char* path) {
    size_t length = strlen(path) + 1;
    if (4 + length > capacity) return 0;
    put_header(out, opcode, length);
    memcpy(out + 4, path, length);
    return 4 + length;
}

size_t build_fopen(uint8* out, size_t capacity, uint16 mode, const char* path) {
    size_t length = strlen(path) + 1;
    if (6 + length > capacity) return 0;
    put_header(out, FOPEN, 2 + length);
    WordToBytes(mode, out + 4);
    memcpy(out + 6, path, length);
    return 6 + length;
}

size_t build_handle_request(uint8* out, uint16 opcode, uint16 handle) {
    put_header(out, opcode, 2);
    WordToBytes(handle, out + 4);
    return 6;
}

size_t build_fread(uint8* out, uint16 handle, uint16 count) {
    put_header(out, FREAD, 4);
    WordToBytes(handle, out + 4);
    WordToBytes(count, out + 6);
    return 8;
}

size_t build_fwrite(uint8* out, size_t capacity, uint16 handle, const uint8* data, size_t count) {
    if (count > kMaxWriteChunk || 6 + count > capacity) return 0;
    put_header(out, FWRITE, count + 2);
    WordToBytes(handle, out + 4);
    memcpy(out + 6, data, count);
    return 6 + count;
}

size_t build_fseek(uint8* out, uint16 handle, int32 offset, uint16 mode) {
    put_header(out, FSEEK, 8);
    WordToBytes(handle, out + 4);
    LongToBytes(static_cast<uint32>(offset), out + 6);
    WordToBytes(mode, out + 10);
    return 12;
}

size_t build_rename(uint8* out, size_t capacity, const char* oldpath, const char* newpath) {
    size_t oldlength = strlen(oldpath) + 1;
    size_t newlength = strlen(newpath) + 1;
    if (4 + oldlength + newlength > capacity) return 0;
    put_header(out, RENAME, oldlength + newlength);
    memcpy(out + 4, oldpath, oldlength);
    memcpy(out + 4 + oldlength, newpath, newlength);
    return 4 + oldlength + newlength;
}

size_t build_sfdate(uint8* out, size_t capacity, uint32 time, const char* path) {
    size_t length = strlen(path) + 1;
    if (8 + length > capacity) return 0;
    put_header(out, SFDATE, 4 + length);
    LongToBytes(time, out + 4);
    memcpy(out + 8, path, length);
    return 8 + length;
}

// --- reply parsers
// --------------------------------------------------------------------------------

bool reply_status(const uint8* reply, size_t size, int16* status) {
    if (reply == nullptr || size < 6) return false;
    *status = BytesToWord(reply + 4);
    return true;
}

status_t missing_reply(status_t transport) {
    return transport == B_BAD_PORT_ID ? B_IO_ERROR : B_NO_MEMORY;
}

status_t map_fopen_status(int16 status) {
    switch (status) {
        case kDeviceNotFound:
        case kDeviceNoDirectory:
        case kDeviceNoPath:
            return B_ENTRY_NOT_FOUND;
        case kDeviceBadName:
            return B_NAME_TOO_LONG;
        case kDeviceFull:
            return B_DEVICE_FULL;
        default:
            return B_BAD_VALUE;
    }
}

status_t map_fwrite_status(int16 status) {
    switch (status) {
        case kDeviceReadOnly:
            return B_READ_ONLY_DEVICE;
        case kDeviceFull:
            return B_DEVICE_FULL;
        default:
            return B_BAD_VALUE;
    }
}

status_t map_mkdir_status(int16 status) {
    switch (status) {
        case kDeviceExists:
            return B_FILE_EXISTS;
        case kDeviceBadName:
            return B_BAD_VALUE;
        case kDeviceNoDirectory:
        case kDeviceNoPath:
            return B_ENTRY_NOT_FOUND;
        case kDeviceWriteProtected:
            return B_READ_ONLY_DEVICE;
        case kDeviceFull:
            return B_DEVICE_FULL;
        default:
            return B_FILE_ERROR;
    }
}

status_t map_sfdate_status(int16 status) {
    switch (status) {
        case kDeviceBadName:
            return B_BAD_VALUE;
        case kDeviceWriteProtected:
            return B_READ_ONLY_DEVICE;
        default:
            return B_FILE_ERROR;
    }
}

int32 parse_fopen_reply(const uint8* reply, size_t size) {
    int16 status;
    if (!reply_status(reply, size, &status)) return B_IO_ERROR;
    if (status != 0) return map_fopen_status(status);
    if (size < 8) return B_IO_ERROR;
    return BytesToWord(reply + 6);
}

status_t parse_fread_reply(const uint8* reply, size_t size, uint32 wanted, const uint8** data,
                           uint32* count, bool* end) {
    *count = 0;
    *end = false;
    int16 status;
    if (!reply_status(reply, size, &status)) return B_IO_ERROR;
    if (status == kDeviceEndOfFile) {
        *end = true;
        return B_OK;
    }
    if (status != 0) return B_FILE_ERROR;
    // The length field counts the status too; a reply that claims more than it holds, or
    // more than was asked for, is cut to those bounds.
    uint32 claimed = BytesToUword(reply + 2);
    claimed = claimed >= 2 ? claimed - 2 : 0;
    uint32 held = static_cast<uint32>(size - 6);
    uint32 n = claimed < held ? claimed : held;
    *count = n < wanted ? n : wanted;
    *data = reply + 6;
    return B_OK;
}

status_t parse_fseek_reply(const uint8* reply, size_t size, uint32* position) {
    int16 status;
    if (!reply_status(reply, size, &status)) return B_IO_ERROR;
    if (status != 0) return B_FILE_ERROR;
    if (size < 10) return B_IO_ERROR;
    *position = BytesToUlong(reply + 6);
    return B_OK;
}

bool parse_finfo_reply(const uint8* reply, size_t size, const uint8** header) {
    int16 status;
    if (!reply_status(reply, size, &status) || status != 0 || size <= 17) return false;
    *header = reply + 6;
    return true;
}

bool parse_dir_entry(const uint8* buffer, size_t size, size_t offset, dir_entry* entry) {
    if (buffer == nullptr || offset >= size || size - offset <= kEntryHeaderSize) return false;
    const char* name = reinterpret_cast<const char*>(buffer + offset + kEntryHeaderSize);
    size_t room = size - offset - kEntryHeaderSize;
    const void* nul = memchr(name, '\0', room);
    if (nul == nullptr) return false;  // the name runs past the end of the reply
    entry->header = buffer + offset;
    entry->name = name;
    entry->name_length = static_cast<size_t>(static_cast<const char*>(nul) - name);
    entry->next = offset + kEntryHeaderSize + entry->name_length + 1;
    return true;
}

bool parse_deviceinfo_reply(const uint8* reply, size_t size, device_info* info) {
    if (reply == nullptr || size <= 19) return false;
    info->media = reply[8];
    info->total = BytesToUlong(reply + 12);
    info->free = BytesToUlong(reply + 16);
    size_t room = size - 20;
    if (room > sizeof info->volume_name - 1) room = sizeof info->volume_name - 1;
    size_t length = strnlen(reinterpret_cast<const char*>(reply + 20), room);
    memcpy(info->volume_name, reply + 20, length);
    info->volume_name[length] = '\0';
    return true;
}

// --- transport
// ------------------------------------------------------------------------------------

namespace {

// Replies carry no tag, so a reply that comes after its request timed out would be taken as
// the answer to the next request on the same reply port. Each connection (reply port) counts
// the replies it still owes; the counts are read and changed only while the connection's
// transport semaphore is held.
std::mutex owedLock;
std::map<port_id, int32> owedReplies;

int32 owed_replies(port_id port) {
    std::lock_guard<std::mutex> hold(owedLock);
    auto found = owedReplies.find(port);
    return found == owedReplies.end() ? 0 : found->second;
}

void set_owed_replies(port_id port, int32 count) {
    std::lock_guard<std::mutex> hold(owedLock);
    if (count == 0)
        owedReplies.erase(port);
    else
        owedReplies[port] = count;
}

void discard_one(port_id port, bigtime_t timeout) {
    ssize_t size = port_buffer_size_etc(port, B_TIMEOUT, timeout);
    if (size < 0) return;
    uint8 scratch[64];
    int32 code;
    // A reader with a short buffer still takes the whole message off the port.
    (void)read_port_etc(port, &code, scratch, sizeof scratch, B_TIMEOUT, 0);
}

// Called with the transport semaphore held, so no other request of the connection is
// outstanding: whatever is on the reply port now answers an earlier request. A reply still
// owed is waited for as long as a reply would be; after that it counts as lost.
void discard_stale_replies(volume* vol) {
    int32 owed = owed_replies(vol->readPort);
    if (owed > 0) {
        for (int32 i = 0; i < owed; i++) {
            if (port_buffer_size_etc(vol->readPort, B_TIMEOUT, vol->sizeTimeout) < 0) break;
            discard_one(vol->readPort, 0);
        }
        set_owed_replies(vol->readPort, 0);
    }
    while (port_count(vol->readPort) > 0) discard_one(vol->readPort, 0);
}

void link_lost(volume* vol) {
    if (vol->connected.exchange(0) != 0) debug_print("tavro3: link gone, volume disconnected\n");
}

}  // namespace

uint8* send_command(volume* vol, const uint8* request, int32* reply_size, status_t* transport) {
    *reply_size = 0;
    if (!vol->connected.load()) {
        *transport = B_BAD_PORT_ID;  // the link is gone for good
        return nullptr;
    }
    size_t size = 4 + BytesToUword(request + 2);

    status_t status = acquire_sem(vol->sem);
    if (status != B_OK) {
        *transport = status;
        return nullptr;
    }
    discard_stale_replies(vol);
    dbg_print("\nsend ", size, request);

    uint8* reply = nullptr;
    ssize_t result = write_port(vol->writePort, host_channel_packet(vol->channel), request, size);
    if (result >= 0) result = port_buffer_size_etc(vol->readPort, B_TIMEOUT, vol->sizeTimeout);
    if (result >= 0) {
        size_t wanted = static_cast<size_t>(result);
        reply = static_cast<uint8*>(malloc(wanted > 0 ? wanted : 1));
        if (reply == nullptr) {
            result = B_NO_MEMORY;  // the reply stays on the port; the next request drops it
        } else {
            int32 code;
            result =
                read_port_etc(vol->readPort, &code, reply, wanted, B_TIMEOUT, vol->replyTimeout);
        }
    }
    if (result == B_TIMED_OUT) set_owed_replies(vol->readPort, owed_replies(vol->readPort) + 1);

    if (result < 0) {
        *transport = static_cast<status_t>(result);
        if (result == B_BAD_PORT_ID) link_lost(vol);
        release_sem(vol->sem);
        free(reply);
        return nullptr;
    }
    release_sem(vol->sem);
    dbg_print("\nrecv ", static_cast<size_t>(result), reply);
    *transport = B_OK;
    *reply_size = static_cast<int32>(result);
    return reply;
}

// --- requests
// -------------------------------------------------------------------------------------

namespace {

// A reply buffer that frees itself.
struct Reply {
    uint8* bytes = nullptr;
    int32 size = 0;
    status_t transport = B_OK;

    Reply(volume* vol, const uint8* request) {
        bytes = send_command(vol, request, &size, &transport);
    }
    ~Reply() { free(bytes); }
    Reply(const Reply&) = delete;
    Reply& operator=(const Reply&) = delete;

    size_t length() const { return static_cast<size_t>(size); }
};

// The common shape of MKDIR, RENAME, SFDATE: no reply, a short one, then the status table.
status_t status_only(const Reply& reply, status_t (*map)(int16)) {
    if (reply.bytes == nullptr) return missing_reply(reply.transport);
    int16 status;
    if (!reply_status(reply.bytes, reply.length(), &status)) return B_IO_ERROR;
    return status == 0 ? B_OK : map(status);
}

status_t file_error(int16) { return B_FILE_ERROR; }

}  // namespace

int32 psion_open(volume* vol, uint16 mode, const char* path) {
    if (!vol->connected.load()) return B_ENTRY_NOT_FOUND;
    uint8 request[kRequestBufferSize];
    if (build_fopen(request, sizeof request, mode, path) == 0) return B_NAME_TOO_LONG;
    Reply reply(vol, request);
    if (reply.bytes == nullptr) return missing_reply(reply.transport);
    return parse_fopen_reply(reply.bytes, reply.length());
}

status_t psion_close(volume* vol, filecookie* cookie) {
    if (cookie == nullptr) return B_FILE_ERROR;
    status_t result = B_OK;
    // A listing whose device open failed has no handle to close.
    if (vol->connected.load() && cookie->handle >= 0) {
        uint8 request[8];
        (void)build_handle_request(request, FCLOSE, static_cast<uint16>(cookie->handle));
        Reply reply(vol, request);
        int16 status;
        if (reply.bytes == nullptr)
            result = reply.transport == B_BAD_PORT_ID ? B_OK : B_NO_MEMORY;
        else if (!reply_status(reply.bytes, reply.length(), &status) || status != 0)
            result = B_IO_ERROR;
    }
    free(cookie->buffer);
    delete cookie;
    return result;
}

status_t psion_finfo(volume* vol, const char* path, uint8* header) {
    if (!vol->connected.load()) return B_IO_ERROR;
    uint8 request[kRequestBufferSize];
    if (build_path_request(request, sizeof request, FINFO, path) == 0) return B_NAME_TOO_LONG;
    Reply reply(vol, request);
    if (reply.bytes == nullptr) return missing_reply(reply.transport);
    const uint8* found;
    if (!parse_finfo_reply(reply.bytes, reply.length(), &found)) return B_ENTRY_NOT_FOUND;
    // The reply holds at least the first 12 bytes of the header; the rest is not used.
    memset(header, 0, kEntryHeaderSize);
    size_t held = reply.length() - 6;
    memcpy(header, found, held < kEntryHeaderSize ? held : kEntryHeaderSize);
    return B_OK;
}

uint8* psion_dirread(volume* vol, int32 handle, int32* reply_size, status_t* transport) {
    uint8 request[8];
    (void)build_handle_request(request, FDIRREAD, static_cast<uint16>(handle));
    *transport = B_OK;
    return send_command(vol, request, reply_size, transport);
}

status_t psion_mkdir(volume* vol, const char* path) {
    if (!vol->connected.load()) return B_IO_ERROR;
    uint8 request[kRequestBufferSize];
    if (build_path_request(request, sizeof request, MKDIR, path) == 0) return B_NAME_TOO_LONG;
    Reply reply(vol, request);
    return status_only(reply, map_mkdir_status);
}

status_t psion_rename(volume* vol, const char* oldpath, const char* newpath) {
    if (!vol->connected.load()) return B_IO_ERROR;
    uint8 request[kRequestBufferSize];
    if (build_rename(request, sizeof request, oldpath, newpath) == 0) return B_NAME_TOO_LONG;
    Reply reply(vol, request);
    return status_only(reply, file_error);
}

status_t psion_delete(volume* vol, const char* path) {
    if (!vol->connected.load()) return B_IO_ERROR;
    uint8 request[kRequestBufferSize];
    if (build_path_request(request, sizeof request, DELETE, path) == 0) return B_NAME_TOO_LONG;
    Reply reply(vol, request);
    if (reply.bytes == nullptr) return missing_reply(reply.transport);
    return reply.size >= 4 ? B_OK : B_IO_ERROR;
}

status_t psion_sfdate(volume* vol, const char* path, uint32 time) {
    if (!vol->connected.load()) return B_IO_ERROR;
    uint8 request[kRequestBufferSize];
    if (build_sfdate(request, sizeof request, time, path) == 0) return B_NAME_TOO_LONG;
    Reply reply(vol, request);
    return status_only(reply, map_sfdate_status);
}

// The Series 3 has no request to change a file's permissions from here; a mode change is
// accepted and leaves the device alone.
status_t psion_sfstat(volume*, const char*, uint32, uint32) { return B_OK; }

status_t psion_deviceinfo(volume* vol, device_info* info) {
    uint8 request[kRequestBufferSize];
    if (build_path_request(request, sizeof request, FDEVICEINFO, vol->device) == 0)
        return B_NAME_TOO_LONG;
    Reply reply(vol, request);
    if (!parse_deviceinfo_reply(reply.bytes, reply.length(), info)) return B_ERROR;
    return B_OK;
}

status_t psion_fseek(volume* vol, filecookie* cookie, int whence, int32 offset) {
    if (!vol->connected.load() || cookie == nullptr) return B_IO_ERROR;
    uint16 mode;
    switch (whence) {
        case 0:
            if (cookie->offset == offset) return B_OK;
            mode = kSeekFromStart;
            break;
        case 1:
            if (offset == 0) return B_OK;
            mode = kSeekFromCurrent;
            break;
        case 2:
            if (offset > 0) return B_FILE_ERROR;
            mode = kSeekFromEnd;
            break;
        default:
            return B_FILE_ERROR;
    }
    uint8 request[16];
    (void)build_fseek(request, static_cast<uint16>(cookie->handle), offset, mode);
    Reply reply(vol, request);
    if (reply.bytes == nullptr) return missing_reply(reply.transport);
    uint32 position;
    status_t status = parse_fseek_reply(reply.bytes, reply.length(), &position);
    if (status != B_OK) return status;
    cookie->offset = static_cast<int32>(position);
    return B_OK;
}

int32 psion_read(volume* vol, filecookie* cookie, uint8* buf, uint32 count) {
    if (!vol->connected.load() || cookie == nullptr) return B_IO_ERROR;
    uint32 done = 0;
    status_t error = B_OK;
    while (done < count && error == B_OK) {
        uint32 ask = count - done < kMaxReadChunk ? count - done : kMaxReadChunk;
        uint8 request[8];
        (void)build_fread(request, static_cast<uint16>(cookie->handle), static_cast<uint16>(ask));
        Reply reply(vol, request);
        if (reply.bytes == nullptr) {
            error = missing_reply(reply.transport);
            break;
        }
        const uint8* data = nullptr;
        uint32 got;
        bool end;
        error = parse_fread_reply(reply.bytes, reply.length(), ask, &data, &got, &end);
        // The end of the file, or a successful reply without data, ends the read: asking
        // again would only bring the same answer.
        if (error != B_OK || end || got == 0) break;
        memcpy(buf + done, data, got);
        done += got;
        cookie->offset = static_cast<int32>(static_cast<uint32>(cookie->offset) + got);
    }
    if (done > 0) return static_cast<int32>(done);
    return error;
}

int32 psion_write(volume* vol, filecookie* cookie, const uint8* buf, uint32 count) {
    if (!vol->connected.load() || cookie == nullptr) return B_IO_ERROR;
    uint32 done = 0;
    status_t error = B_OK;
    while (done < count && error == B_OK) {
        uint32 chunk = count - done < kMaxWriteChunk ? count - done : kMaxWriteChunk;
        uint8 request[kRequestBufferSize];
        (void)build_fwrite(request, sizeof request, static_cast<uint16>(cookie->handle), buf + done,
                           chunk);
        Reply reply(vol, request);
        if (reply.bytes == nullptr) {
            error = missing_reply(reply.transport);
            break;
        }
        int16 status;
        if (!reply_status(reply.bytes, reply.length(), &status)) {
            error = B_IO_ERROR;
        } else if (status != 0) {
            error = map_fwrite_status(status);
        } else {
            done += chunk;
            cookie->offset = static_cast<int32>(static_cast<uint32>(cookie->offset) + chunk);
        }
    }
    if (done > 0) return static_cast<int32>(done);
    return error;
}
