#include "tavro_rfsv.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <mutex>
#include <vector>

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
    // The length word counts the status and the data: a reply cut short or mangled on the
    // way shows itself here, before any of its fields is believed.
    if (reply == nullptr || size < 6 || size > 0xFFFF + 4) return false;
    if (BytesToUword(reply) != kReplyCode || BytesToUword(reply + 2) != size - 4) return false;
    *status = BytesToWord(reply + 4);
    return true;
}

status_t missing_reply(status_t transport) {
    // Nothing came back: the link is gone or did not answer. Either way the request may have
    // been carried out, and the caller must not guess.
    return transport == B_TIMED_OUT ? B_TIMED_OUT : B_IO_ERROR;
}

bool outcome_unknown(status_t status) { return status == B_IO_ERROR || status == B_TIMED_OUT; }

status_t map_fopen_status(int16 status) {
    switch (status) {
        case kDeviceNotFound:
        case kDeviceNoDirectory:
        case kDeviceNoPath:
            return B_ENTRY_NOT_FOUND;
        case kDeviceBadName:
            return B_BAD_VALUE;  // a name the device cannot store
        case kDeviceExists:
            return B_FILE_EXISTS;
        case kDeviceFull:
            return B_DEVICE_FULL;
        case kDeviceReadOnly:
        case kDeviceWriteProtected:
            return B_READ_ONLY_DEVICE;
        case kDeviceAccessDenied:
            return B_NOT_ALLOWED;
        case kDeviceTooManyOpen:
            return B_NO_MORE_FDS;
        default:
            return B_BAD_VALUE;
    }
}

status_t map_change_status(int16 status) {
    switch (status) {
        case kDeviceExists:
            return B_FILE_EXISTS;
        case kDeviceNotFound:
        case kDeviceNoDirectory:
        case kDeviceNoPath:
            return B_ENTRY_NOT_FOUND;
        case kDeviceBadName:
            return B_BAD_VALUE;
        case kDeviceReadOnly:
        case kDeviceWriteProtected:
            return B_READ_ONLY_DEVICE;
        case kDeviceAccessDenied:
            return B_BUSY;  // in use: open on the device, or a folder that is not empty
        case kDeviceFull:
            return B_DEVICE_FULL;
        default:
            return B_FILE_ERROR;
    }
}

status_t map_fwrite_status(int16 status) {
    switch (status) {
        case kDeviceReadOnly:
        case kDeviceWriteProtected:
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
        case kDeviceNotFound:
            return B_ENTRY_NOT_FOUND;
        case kDeviceReadOnly:
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
    if (size != 8) return B_IO_ERROR;
    return BytesToUword(reply + 6);
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
    // reply_status has checked that the length word matches the bytes that came. More data
    // than was asked for, or none at all where the end of file would have been said, is a
    // reply that cannot be trusted.
    uint32 held = static_cast<uint32>(size - 6);
    if (held > wanted || (held == 0 && wanted > 0)) return B_IO_ERROR;
    *count = held;
    *data = reply + 6;
    return B_OK;
}

status_t parse_fseek_reply(const uint8* reply, size_t size, uint32* position) {
    int16 status;
    if (!reply_status(reply, size, &status)) return B_IO_ERROR;
    if (status != 0) return B_FILE_ERROR;
    if (size != 10) return B_IO_ERROR;
    *position = BytesToUlong(reply + 6);
    return B_OK;
}

status_t parse_finfo_reply(const uint8* reply, size_t size, const uint8** header) {
    int16 status;
    if (!reply_status(reply, size, &status)) return B_IO_ERROR;
    if (status != 0) return map_change_status(status) == B_ENTRY_NOT_FOUND
                                ? B_ENTRY_NOT_FOUND
                                : (status == kDeviceBadName ? B_BAD_VALUE : B_IO_ERROR);
    if (size <= 17) return B_IO_ERROR;
    *header = reply + 6;
    return B_OK;
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
    int16 status;
    if (!reply_status(reply, size, &status) || status != 0 || size <= 19) return false;
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

// A reply still owed is waited for this many reply times more (three in all since its request
// went) before it counts as lost: a late reply taken for the answer to the next request would
// be believed.
constexpr int32 kOwedReplyWaits = 2;

// Called with the transport semaphore held, so no other request of the connection is
// outstanding: whatever is on the reply port now answers an earlier request. A reply still
// owed is waited for; after that it counts as lost.
void discard_stale_replies(volume* vol) {
    int32 owed = owed_replies(vol->readPort);
    if (owed > 0) {
        for (int32 i = 0; i < owed; i++) {
            if (port_buffer_size_etc(vol->readPort, B_TIMEOUT,
                                     kOwedReplyWaits * vol->sizeTimeout) < 0)
                break;
            discard_one(vol->readPort, 0);
        }
        set_owed_replies(vol->readPort, 0);
    }
    while (port_count(vol->readPort) > 0) discard_one(vol->readPort, 0);
}

// Runs while the transport semaphore is still held, with the reply (or null) and the
// transport status: bookkeeping that must see replies in the order the device gave them.
using ReplyHook = void (*)(volume* vol, const uint8* reply, size_t size, void* context);

uint8* exchange(volume* vol, const uint8* request, int32* reply_size, status_t* transport,
                ReplyHook hook, void* context) {
    *reply_size = 0;
    if (!vol->connected.load()) return nullptr;  // the link is gone for good
    size_t size = 4 + BytesToUword(request + 2);

    status_t status = acquire_sem(vol->sem);
    if (status != B_OK) {
        *transport = status;
        return nullptr;
    }
    discard_stale_replies(vol);

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
        if (result == B_BAD_PORT_ID) vol->connected.store(0);
        free(reply);
        reply = nullptr;
    } else {
        *transport = B_OK;
        *reply_size = static_cast<int32>(result);
    }
    if (hook != nullptr) hook(vol, reply, reply != nullptr ? static_cast<size_t>(result) : 0, context);
    release_sem(vol->sem);
    return reply;
}

// --- device handles
//
// A request whose reply is lost may still have been carried out; for FOPEN that leaves a
// handle open on the device that nobody knows. The device hands out handle numbers in
// rising order, so when an open of unknown outcome is followed by one that succeeds, the
// numbers between the last known handle and the new one that nobody here holds are the
// ones the lost opens got: they are closed. The book is kept per connection (every volume
// of a device shares its file service and so its handle numbers) and changed only under the
// transport semaphore, in the order the device answered.

constexpr uint32 kHighestHandle = 0x7FFF;

struct HandleBook {
    int32 volumes = 0;
    std::map<uint16, int32> held;  // handle -> opens holding it
    int32 last = -1;               // the last handle the device is known to have given
    uint32 doubtful = 0;           // opens since `last` whose outcome is unknown
    std::vector<uint16> toClose;   // handles to close at the next chance
};

std::mutex bookLock;
std::map<port_id, HandleBook> books;

struct OpenOutcome {
    int32 result;
};

void note_open_reply(volume* vol, const uint8* reply, size_t size, void* context) {
    auto* outcome = static_cast<OpenOutcome*>(context);
    outcome->result = reply != nullptr ? parse_fopen_reply(reply, size) : B_IO_ERROR;
    std::lock_guard<std::mutex> hold(bookLock);
    HandleBook& book = books[vol->readPort];
    if (outcome->result >= 0) {
        uint32 handle = static_cast<uint32>(outcome->result);
        if (book.doubtful > 0 && handle >= 1 && handle <= kHighestHandle) {
            // Before any handle is known, the lost opens are taken to be the ones just
            // before this one.
            int64 last = book.last;
            if (last < 0) {
                last = static_cast<int64>(handle) - 1 - book.doubtful;
                while (last < 0) last += kHighestHandle;
            }
            uint32 gap = static_cast<uint32>((handle + kHighestHandle - 1 - last) % kHighestHandle);
            // More numbers missing than opens in doubt means someone else opened files in
            // between: none of them can be told apart, so none is closed.
            if (gap <= book.doubtful) {
                uint32 at = static_cast<uint32>(last);
                for (uint32 i = 0; i < gap; i++) {
                    at = at >= kHighestHandle ? 1 : at + 1;
                    if (book.held.count(static_cast<uint16>(at)) == 0)
                        book.toClose.push_back(static_cast<uint16>(at));
                }
            }
        }
        book.held[static_cast<uint16>(handle)]++;
        book.last = static_cast<int32>(handle);
        book.doubtful = 0;
    } else if (outcome_unknown(outcome->result)) {
        book.doubtful++;
    }
}

void forget_handle(volume* vol, uint16 handle, bool maybe_open) {
    std::lock_guard<std::mutex> hold(bookLock);
    HandleBook& book = books[vol->readPort];
    auto found = book.held.find(handle);
    if (found != book.held.end() && --found->second <= 0) book.held.erase(found);
    if (maybe_open && book.held.count(handle) == 0) book.toClose.push_back(handle);
}

// Sends FCLOSE for the handles that lost opens and lost closes may have left open.
void close_forgotten_handles(volume* vol) {
    std::vector<uint16> handles;
    {
        std::lock_guard<std::mutex> hold(bookLock);
        handles.swap(books[vol->readPort].toClose);
    }
    for (uint16 handle : handles) {
        uint8 request[8];
        (void)build_handle_request(request, FCLOSE, handle);
        int32 size;
        status_t transport = B_OK;
        // Whatever the answer: a handle that was not open is refused, and that is fine.
        free(exchange(vol, request, &size, &transport, nullptr, nullptr));
    }
}

}  // namespace

uint8* send_command(volume* vol, const uint8* request, int32* reply_size, status_t* transport) {
    return exchange(vol, request, reply_size, transport, nullptr, nullptr);
}

void attach_handle_book(volume* vol) {
    std::lock_guard<std::mutex> hold(bookLock);
    books[vol->readPort].volumes++;
}

void detach_handle_book(volume* vol) {
    std::lock_guard<std::mutex> hold(bookLock);
    auto found = books.find(vol->readPort);
    if (found != books.end() && --found->second.volumes <= 0) books.erase(found);
}

bool handles_in_doubt(volume* vol) {
    std::lock_guard<std::mutex> hold(bookLock);
    auto found = books.find(vol->readPort);
    return found != books.end() && (found->second.doubtful > 0 || !found->second.toClose.empty());
}

void tidy_device_handles(volume* vol) {
    bool doubtful;
    {
        std::lock_guard<std::mutex> hold(bookLock);
        doubtful = books[vol->readPort].doubtful > 0;
    }
    if (doubtful) {
        // The handle the device gives a new open shows which numbers the lost opens took;
        // psion_open closes them.
        char pattern[kPathBufferSize];
        if (snprintf(pattern, sizeof pattern, "%s\\*.*", vol->device) <
            static_cast<int>(sizeof pattern)) {
            int32 handle = psion_open(vol, open_mode_word(B_O_RDONLY, true), pattern);
            if (handle >= 0) {
                filecookie* probe = new (std::nothrow) filecookie{};
                if (probe != nullptr) {
                    probe->handle = handle;
                    (void)psion_close(vol, probe);
                }
            }
        }
    }
    close_forgotten_handles(vol);
}

size_t handles_held(volume* vol) {
    std::lock_guard<std::mutex> hold(bookLock);
    auto found = books.find(vol->readPort);
    return found == books.end() ? 0 : found->second.held.size();
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

// A path as the device spells it. Paths here are UTF-8; the device's are in its own
// character set.
struct DevicePath {
    char text[kRequestBufferSize];
    status_t status;
    explicit DevicePath(const char* path) { status = to_device_text(path, text, sizeof text); }
};

// The common shape of MKDIR, RENAME, DELETE, SFDATE: no reply, a broken one, then the
// status table.
status_t status_only(const Reply& reply, status_t (*map)(int16)) {
    if (reply.bytes == nullptr) return missing_reply(reply.transport);
    int16 status;
    if (!reply_status(reply.bytes, reply.length(), &status)) return B_IO_ERROR;
    return status == 0 ? B_OK : map(status);
}

}  // namespace

int32 psion_open(volume* vol, uint16 mode, const char* path) {
    if (!vol->connected.load()) return B_ENTRY_NOT_FOUND;
    DevicePath spelled(path);
    if (spelled.status != B_OK) return spelled.status;
    uint8 request[kRequestBufferSize];
    if (build_fopen(request, sizeof request, mode, spelled.text) == 0) return B_NAME_TOO_LONG;
    close_forgotten_handles(vol);
    OpenOutcome outcome{B_IO_ERROR};
    int32 size;
    status_t transport = B_OK;
    uint8* reply = exchange(vol, request, &size, &transport, note_open_reply, &outcome);
    free(reply);
    if (reply == nullptr) outcome.result = missing_reply(transport);
    close_forgotten_handles(vol);
    return outcome.result;
}

status_t psion_close(volume* vol, filecookie* cookie) {
    if (cookie == nullptr) return B_FILE_ERROR;
    status_t result = B_OK;
    // A listing whose device open failed has no handle to close.
    if (cookie->handle >= 0) {
        uint16 handle = static_cast<uint16>(cookie->handle);
        if (vol->connected.load()) {
            uint8 request[8];
            (void)build_handle_request(request, FCLOSE, handle);
            Reply reply(vol, request);
            int16 status;
            if (reply.bytes == nullptr)
                result = missing_reply(reply.transport);
            else if (!reply_status(reply.bytes, reply.length(), &status))
                result = B_IO_ERROR;
            else if (status != 0 && status != kDeviceBadHandle)
                result = B_FILE_ERROR;
            // A close of unknown outcome is sent again with the next open.
            forget_handle(vol, handle, vol->connected.load() && outcome_unknown(result));
        } else {
            forget_handle(vol, handle, false);
        }
    }
    free(cookie->buffer);
    delete cookie;
    return result;
}

status_t psion_finfo(volume* vol, const char* path, uint8* header) {
    if (!vol->connected.load()) return B_IO_ERROR;
    DevicePath spelled(path);
    if (spelled.status != B_OK) return spelled.status;
    uint8 request[kRequestBufferSize];
    if (build_path_request(request, sizeof request, FINFO, spelled.text) == 0)
        return B_NAME_TOO_LONG;
    Reply reply(vol, request);
    if (reply.bytes == nullptr) return missing_reply(reply.transport);
    const uint8* found;
    status_t status = parse_finfo_reply(reply.bytes, reply.length(), &found);
    if (status != B_OK) return status;
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
    DevicePath spelled(path);
    if (spelled.status != B_OK) return spelled.status;
    uint8 request[kRequestBufferSize];
    if (build_path_request(request, sizeof request, MKDIR, spelled.text) == 0)
        return B_NAME_TOO_LONG;
    Reply reply(vol, request);
    return status_only(reply, map_mkdir_status);
}

status_t psion_rename(volume* vol, const char* oldpath, const char* newpath) {
    if (!vol->connected.load()) return B_IO_ERROR;
    DevicePath from(oldpath);
    DevicePath to(newpath);
    if (from.status != B_OK) return from.status;
    if (to.status != B_OK) return to.status;
    uint8 request[kRequestBufferSize];
    if (build_rename(request, sizeof request, from.text, to.text) == 0) return B_NAME_TOO_LONG;
    Reply reply(vol, request);
    return status_only(reply, map_change_status);
}

status_t psion_delete(volume* vol, const char* path) {
    if (!vol->connected.load()) return B_IO_ERROR;
    DevicePath spelled(path);
    if (spelled.status != B_OK) return spelled.status;
    uint8 request[kRequestBufferSize];
    if (build_path_request(request, sizeof request, DELETE, spelled.text) == 0)
        return B_NAME_TOO_LONG;
    Reply reply(vol, request);
    return status_only(reply, map_change_status);
}

status_t psion_sfdate(volume* vol, const char* path, uint32 time) {
    if (!vol->connected.load()) return B_IO_ERROR;
    DevicePath spelled(path);
    if (spelled.status != B_OK) return spelled.status;
    uint8 request[kRequestBufferSize];
    if (build_sfdate(request, sizeof request, time, spelled.text) == 0) return B_NAME_TOO_LONG;
    Reply reply(vol, request);
    return status_only(reply, map_sfdate_status);
}

// The Series 3 has no request to change a file's permissions from here; a mode change is
// accepted and leaves the device alone.
status_t psion_sfstat(volume*, const char*, uint32, uint32) { return B_OK; }

status_t psion_deviceinfo(volume* vol, device_info* info) {
    if (!vol->connected.load()) return B_IO_ERROR;
    uint8 request[kRequestBufferSize];
    if (build_path_request(request, sizeof request, FDEVICEINFO, vol->device) == 0)
        return B_NAME_TOO_LONG;
    Reply reply(vol, request);
    if (reply.bytes == nullptr) return missing_reply(reply.transport);
    if (!parse_deviceinfo_reply(reply.bytes, reply.length(), info)) return B_IO_ERROR;
    return B_OK;
}

// After a request on the handle failed, the device's position is unknown: it may have
// carried the request out although its answer never came. The next access seeks first.
namespace {
void position_unknown(filecookie* cookie) { cookie->offset = kPositionUnknown; }
}  // namespace

status_t psion_fseek(volume* vol, filecookie* cookie, int whence, int32 offset) {
    if (!vol->connected.load() || cookie == nullptr) return B_IO_ERROR;
    uint16 mode;
    switch (whence) {
        case 0:
            if (cookie->offset == offset && offset >= 0) return B_OK;
            mode = kSeekFromStart;
            break;
        case 1:
            if (offset == 0 && cookie->offset >= 0) return B_OK;
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
    uint32 position = 0;
    status_t status = reply.bytes == nullptr
                          ? missing_reply(reply.transport)
                          : parse_fseek_reply(reply.bytes, reply.length(), &position);
    if (status == B_OK && (position > INT32_MAX || (whence == 0 && position != uint32(offset))))
        status = B_IO_ERROR;  // not where it was asked to go
    if (status != B_OK) {
        position_unknown(cookie);
        return status;
    }
    cookie->offset = static_cast<int32>(position);
    return B_OK;
}

int32 psion_read(volume* vol, filecookie* cookie, uint8* buf, uint32 count) {
    if (!vol->connected.load() || cookie == nullptr) return B_IO_ERROR;
    uint32 done = 0;
    while (done < count) {
        uint32 ask = count - done < kMaxReadChunk ? count - done : kMaxReadChunk;
        uint8 request[8];
        (void)build_fread(request, static_cast<uint16>(cookie->handle), static_cast<uint16>(ask));
        Reply reply(vol, request);
        const uint8* data = nullptr;
        uint32 got = 0;
        bool end = false;
        status_t error = reply.bytes == nullptr
                             ? missing_reply(reply.transport)
                             : parse_fread_reply(reply.bytes, reply.length(), ask, &data, &got,
                                                 &end);
        if (error != B_OK) {
            // The bytes of this call cannot all be had: none are handed out, so that a read
            // never comes back short of the end of the file.
            position_unknown(cookie);
            return error;
        }
        if (end) break;
        memcpy(buf + done, data, got);
        done += got;
        cookie->offset = static_cast<int32>(static_cast<uint32>(cookie->offset) + got);
    }
    return static_cast<int32>(done);
}

namespace {
// Appends of unknown outcome settled by asking for the end of the file, per write call.
constexpr int kAppendSettles = 2;
}  // namespace

int32 psion_write(volume* vol, filecookie* cookie, const uint8* buf, uint32 count) {
    if (!vol->connected.load() || cookie == nullptr) return B_IO_ERROR;
    uint32 done = 0;
    status_t error = B_OK;
    int settles = 0;
    while (done < count) {
        uint32 chunk = count - done < kMaxWriteChunk ? count - done : kMaxWriteChunk;
        int32 start = cookie->offset;
        uint8 request[kRequestBufferSize];
        (void)build_fwrite(request, sizeof request, static_cast<uint16>(cookie->handle), buf + done,
                           chunk);
        Reply reply(vol, request);
        int16 status = 0;
        if (reply.bytes == nullptr)
            error = missing_reply(reply.transport);
        else if (!reply_status(reply.bytes, reply.length(), &status) || reply.length() != 6)
            error = B_IO_ERROR;
        else if (status != 0)
            error = map_fwrite_status(status);
        if (error != B_OK) {
            // Only the chunks the device said it stored count; where this one went, if
            // anywhere, is not known.
            position_unknown(cookie);
            // An append cannot simply be sent again: if the device stored the chunk, it would
            // be stored twice. The end of the file tells whether it did.
            if (cookie->append && outcome_unknown(error) && start >= 0 &&
                settles++ < kAppendSettles && psion_fseek(vol, cookie, 2, 0) == B_OK) {
                uint32 end = static_cast<uint32>(cookie->offset);
                if (end == static_cast<uint32>(start) + chunk) {
                    error = B_OK;
                    done += chunk;
                    continue;
                }
                if (end == static_cast<uint32>(start)) {
                    error = B_OK;  // not stored: it goes again from where it should have gone
                    continue;
                }
                position_unknown(cookie);
            }
            break;
        }
        done += chunk;
        cookie->offset = static_cast<int32>(static_cast<uint32>(cookie->offset) + chunk);
    }
    if (done > 0) return static_cast<int32>(done);
    return error;
}
