// tavro3's requests: one psion_ function per request of the remote file service, each
// building its packet, sending it and mapping its reply to our status.
#include "tavro_requests.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "tavro_handles.h"
#include "tavro_transport.h"

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
    char text[RFSV_REQUEST_BUFFER_SIZE];
    status_t status;
    explicit DevicePath(const char* path) { status = to_device_text(path, text, sizeof text); }
};

// A request that names one path: `build` makes it from `value` and the path as the device
// spells it.
template <typename Value>
[[nodiscard]] status_t build_spelled(uint8 (&request)[RFSV_REQUEST_BUFFER_SIZE],
                                     size_t (*build)(uint8*, size_t, Value, const char*),
                                     std::type_identity_t<Value> value, const char* path) {
    DevicePath spelled(path);
    if (spelled.status != B_OK) return spelled.status;
    return build(request, sizeof request, value, spelled.text) == 0 ? B_NAME_TOO_LONG : B_OK;
}

// The common shape of MKDIR, RENAME, DELETE, SFDATE: no reply, a broken one, then the
// status table.
[[nodiscard]] status_t status_only(const Reply& reply, status_t (*map)(int16)) {
    if (reply.bytes == nullptr) return missing_reply(reply.transport);
    int16 status;
    if (!reply_status(reply.bytes, reply.length(), &status)) return B_IO_ERROR;
    return status == 0 ? B_OK : map(status);
}

}  // namespace

int32 psion_open(volume* vol, uint16 mode, const char* path) {
    if (!vol->connected.load()) return B_ENTRY_NOT_FOUND;
    uint8 request[RFSV_REQUEST_BUFFER_SIZE];
    status_t built = build_spelled(request, build_fopen, mode, path);
    if (built != B_OK) return built;
    return open_noting_handles(vol, request);
}

status_t psion_fclose(volume* vol, uint16 handle) {
    uint8 request[RFSV_REQUEST_HEADER_SIZE + 2];
    (void)build_handle_request(request, FCLOSE, handle);
    Reply reply(vol, request);
    if (reply.bytes == nullptr) return missing_reply(reply.transport);
    return parse_fclose_reply(reply.bytes, reply.length());
}

status_t psion_close_handle(volume* vol, int32 handle) {
    // A listing whose device open failed has no handle to close.
    if (handle < 0) return B_OK;
    uint16 number = static_cast<uint16>(handle);
    if (!vol->connected.load()) {
        note_handle_closed(vol, number, false);
        return B_OK;
    }
    status_t result = psion_fclose(vol, number);
    // A close of unknown outcome is sent again with the next open.
    note_handle_closed(vol, number, vol->connected.load() && outcome_unknown(result));
    return result;
}

status_t psion_close(volume* vol, filecookie* cookie) {
    if (cookie == nullptr) return B_FILE_ERROR;
    status_t result = psion_close_handle(vol, cookie->handle);
    free(cookie->buffer);
    delete cookie;
    return result;
}

status_t psion_finfo(volume* vol, const char* path, uint8* header) {
    if (!vol->connected.load()) return B_IO_ERROR;
    uint8 request[RFSV_REQUEST_BUFFER_SIZE];
    status_t built = build_spelled(request, build_path_request, FINFO, path);
    if (built != B_OK) return built;
    Reply reply(vol, request);
    if (reply.bytes == nullptr) return missing_reply(reply.transport);
    const uint8* found;
    status_t status = parse_finfo_reply(reply.bytes, reply.length(), &found);
    if (status != B_OK) return status;
    // The reply holds at least the first 12 bytes of the header; the rest is not used.
    memset(header, 0, RFSV_ENTRY_HEADER_SIZE);
    size_t held = reply.length() - RFSV_REPLY_DATA;
    memcpy(header, found, held < RFSV_ENTRY_HEADER_SIZE ? held : RFSV_ENTRY_HEADER_SIZE);
    return B_OK;
}

uint8* psion_dirread(volume* vol, int32 handle, int32* reply_size, status_t* transport) {
    uint8 request[RFSV_REQUEST_HEADER_SIZE + 2];
    (void)build_handle_request(request, FDIRREAD, static_cast<uint16>(handle));
    *transport = B_OK;
    return send_command(vol, request, reply_size, transport);
}

namespace {

// MKDIR, DELETE and SFDATE: a path (built by `build` with `value`) out, a status back.
template <typename Value>
[[nodiscard]] status_t path_request(volume* vol,
                                    size_t (*build)(uint8*, size_t, Value, const char*),
                                    std::type_identity_t<Value> value, const char* path,
                                    status_t (*map)(int16)) {
    if (!vol->connected.load()) return B_IO_ERROR;
    uint8 request[RFSV_REQUEST_BUFFER_SIZE];
    status_t built = build_spelled(request, build, value, path);
    if (built != B_OK) return built;
    Reply reply(vol, request);
    return status_only(reply, map);
}

}  // namespace

status_t psion_mkdir(volume* vol, const char* path) {
    return path_request(vol, build_path_request, MKDIR, path, map_mkdir_status);
}

status_t psion_rename(volume* vol, const char* oldpath, const char* newpath) {
    if (!vol->connected.load()) return B_IO_ERROR;
    DevicePath from(oldpath);
    DevicePath to(newpath);
    if (from.status != B_OK) return from.status;
    if (to.status != B_OK) return to.status;
    uint8 request[RFSV_REQUEST_BUFFER_SIZE];
    if (build_rename(request, sizeof request, from.text, to.text) == 0) return B_NAME_TOO_LONG;
    Reply reply(vol, request);
    return status_only(reply, map_change_status);
}

status_t psion_delete(volume* vol, const char* path) {
    return path_request(vol, build_path_request, DELETE, path, map_change_status);
}

status_t psion_sfdate(volume* vol, const char* path, uint32 time) {
    return path_request(vol, build_sfdate, time, path, map_sfdate_status);
}

// The Series 3 has no request to change a file's permissions from here; a mode change is
// accepted and leaves the device alone.
status_t psion_sfstat(volume*, const char*, uint32, uint32) { return B_OK; }

status_t psion_deviceinfo(volume* vol, device_info* info) {
    if (!vol->connected.load()) return B_IO_ERROR;
    uint8 request[RFSV_REQUEST_BUFFER_SIZE];
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
            mode = RFSV_SEEK_FROM_START;
            break;
        case 1:
            if (offset == 0 && cookie->offset >= 0) return B_OK;
            mode = RFSV_SEEK_FROM_CURRENT;
            break;
        case 2:
            if (offset > 0) return B_FILE_ERROR;
            mode = RFSV_SEEK_FROM_END;
            break;
        default:
            return B_FILE_ERROR;
    }
    uint8 request[RFSV_REQUEST_HEADER_SIZE + 8];
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
        uint32 ask = count - done < RFSV_MAX_READ_CHUNK ? count - done : RFSV_MAX_READ_CHUNK;
        uint8 request[RFSV_REQUEST_HEADER_SIZE + 4];
        (void)build_fread(request, static_cast<uint16>(cookie->handle), static_cast<uint16>(ask));
        Reply reply(vol, request);
        const uint8* data = nullptr;
        uint32 got = 0;
        bool end = false;
        status_t error = reply.bytes == nullptr ? missing_reply(reply.transport)
                                                : parse_fread_reply(reply.bytes, reply.length(),
                                                                    ask, &data, &got, &end);
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
        uint32 chunk = count - done < RFSV_MAX_WRITE_CHUNK ? count - done : RFSV_MAX_WRITE_CHUNK;
        int32 start = cookie->offset;
        uint8 request[RFSV_REQUEST_BUFFER_SIZE];
        (void)build_fwrite(request, sizeof request, static_cast<uint16>(cookie->handle), buf + done,
                           chunk);
        Reply reply(vol, request);
        error = reply.bytes == nullptr ? missing_reply(reply.transport)
                                       : parse_fwrite_reply(reply.bytes, reply.length());
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
