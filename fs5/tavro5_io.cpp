// tavro5's transport: one request and its reply on the volume's own file service session.
//
// A request whose reply was lost may still have been carried out. For an open that leaves a
// handle held on the handheld whose number nobody knows, and no request lists a session's
// handles; but a session that ends takes all its handles with it. So once a lost reply may
// have left a handle behind and the volume holds none of its own, the session is ended, and
// a new one is begun for the next request.
//
// Replies carry the request's operation id, so a reply that arrives after its request gave
// up is recognised and dropped instead of being taken for the answer to a later request.
#include <cstring>
#include <new>

#include "platform/ByteOrder.h"
#include "platform/HostProtocol.h"
#include "tavro5.h"
#include "tavro5_debug.h"

namespace tavro5 {

namespace {

constexpr char kServer[] = "SYS$RFSV";

// A session given after we stopped waiting for it: nobody will use it, so it ends at once.
void end_unwanted_session(volume* vol, int32 code) {
    uint16 channel = host_code_channel(code);
    if (channel != 0 && channel != vol->channel)
        (void)write_port(vol->writePort, host_disconnect_request(channel), nullptr, 0);
}

// Under `transport`. Whatever waits on the port answers a request that gave up.
void drain_locked(volume* vol) {
    while (port_count(vol->replyPort) > 0) {
        uint8 scratch[16];
        int32 code;
        if (read_port_etc(vol->replyPort, &code, scratch, sizeof scratch, B_TIMEOUT, 0) < 0) break;
        if (host_is_connect_reply(code)) end_unwanted_session(vol, code);
    }
}

// Under `transport`. Asks the host for a channel to the file service: a new session, with
// no handle open.
status_t open_session_locked(volume* vol) {
    drain_locked(vol);
    uint8 message[4 + sizeof kServer + 2] = {};
    size_t length = host_connect_request(message, sizeof message, vol->replyPort, kServer);
    status_t written = write_port(vol->writePort, HOST_CONNECT_REQUEST, message, length);
    if (written < 0) {
        if (written == B_BAD_PORT_ID) vol->connected.store(false);
        return B_IO_ERROR;
    }
    bigtime_t deadline = system_time() + vol->timeout;
    for (;;) {
        bigtime_t left = deadline - system_time();
        if (left <= 0) {
            debug_line("%c: the file service gave no session", vol->drive);
            return B_IO_ERROR;
        }
        uint8 scratch[16];
        int32 code;
        ssize_t got =
            read_port_etc(vol->replyPort, &code, scratch, sizeof scratch, B_TIMEOUT, left);
        if (got < 0) {
            debug_line("%c: the file service gave no session", vol->drive);
            return B_IO_ERROR;
        }
        // Anything else is a late reply from the session before.
        if (!host_is_connect_reply(code) || host_code_channel(code) == 0) continue;
        vol->channel = host_code_channel(code);
        vol->live_handles = 0;
        vol->handles_in_doubt = false;
        vol->sessions_opened++;
        debug_line("%c: session %u begun on channel %u", vol->drive, vol->sessions_opened.load(),
                   vol->channel);
        return B_OK;
    }
}

// Under `transport`. The handheld closes every handle of a session that ends.
void close_session_locked(volume* vol) {
    if (vol->channel == 0) return;
    debug_line("%c: session on channel %u ended%s", vol->drive, vol->channel,
               vol->handles_in_doubt ? ": lost replies may have left handles open" : "");
    (void)write_port(vol->writePort, host_disconnect_request(vol->channel), nullptr, 0);
    vol->channel = 0;
}

// Under `transport`: one request on the current session, and its reply.
status_t send_locked(volume* vol, uint8* request, size_t size, std::vector<uint8>* reply,
                     int32* device_status, handle_use use);

// Under `transport`, after a request that opens or closes a handle.
void note_handles_locked(volume* vol, handle_use use, status_t result,
                         const std::vector<uint8>& reply, int32 device) {
    if (use == handle_use::opens) {
        uint32 handle;
        bool known = result == B_OK && device == epoc::kOk &&
                     epoc::parse_u32(reply.data(), reply.size(), 0, &handle);
        if (known)
            vol->live_handles++;
        else if (result != B_OK || device == epoc::kOk)
            vol->handles_in_doubt = true;  // it may have opened, and we cannot know its handle
    } else if (use == handle_use::closes) {
        if (vol->live_handles > 0) vol->live_handles--;
        if (result != B_OK) vol->handles_in_doubt = true;  // it may still be open
    }
}

}  // namespace

status_t begin_session(volume* vol) {
    std::lock_guard<std::mutex> hold(vol->transport);
    return open_session_locked(vol);
}

void end_session(volume* vol) {
    std::lock_guard<std::mutex> hold(vol->transport);
    close_session_locked(vol);
}

status_t transact(volume* vol, uint8* request, size_t size, std::vector<uint8>* reply,
                  int32* device_status, handle_use use, uint32* session) {
    if (!vol->connected.load()) return B_IO_ERROR;
    std::lock_guard<std::mutex> hold(vol->transport);

    // Handles nobody knows the numbers of cannot be closed one by one; once the volume holds
    // none of its own, a new session drops them all.
    if (vol->channel != 0 && vol->handles_in_doubt && vol->live_handles == 0)
        close_session_locked(vol);
    bool bound = use == handle_use::uses || use == handle_use::closes;
    if (bound &&
        (session == nullptr || vol->channel == 0 || *session != vol->sessions_opened.load()))
        return kHandleGone;
    if (vol->channel == 0 && open_session_locked(vol) != B_OK) return B_IO_ERROR;
    status_t result = send_locked(vol, request, size, reply, device_status, use);
    // An open refused as "in use" while unknown handles may fill the session's table: those
    // go even though the volume holds handles of its own (their files are opened again when
    // next used), and the open is tried once more on a new session.
    if (result == B_OK && use == handle_use::opens && *device_status == epoc::kInUse &&
        vol->handles_in_doubt) {
        close_session_locked(vol);
        if (open_session_locked(vol) != B_OK) return B_IO_ERROR;
        result = send_locked(vol, request, size, reply, device_status, use);
    }
    if (session != nullptr && use == handle_use::opens) *session = vol->sessions_opened.load();
    // Ended at once, not at the next request, so that nothing stays held on the handheld
    // while the drive is idle.
    if (vol->handles_in_doubt && vol->live_handles == 0) close_session_locked(vol);
    return result;
}

namespace {

status_t send_locked(volume* vol, uint8* request, size_t size, std::vector<uint8>* reply,
                     int32* device_status, handle_use use) {
    uint16 opid = vol->next_opid.fetch_add(1);
    WordToBytes(opid, request + 2);

    drain_locked(vol);

    status_t result = B_OK;
    ssize_t written = write_port(vol->writePort, host_channel_packet(vol->channel), request, size);
    if (written < 0) result = static_cast<status_t>(written);
    bigtime_t deadline = system_time() + vol->timeout;
    int32 device = epoc::kGeneral;
    while (result == B_OK) {
        bigtime_t left = deadline - system_time();
        if (left <= 0) {
            result = B_TIMED_OUT;
            break;
        }
        ssize_t waiting = port_buffer_size_etc(vol->replyPort, B_TIMEOUT, left);
        if (waiting < 0) {
            result = static_cast<status_t>(waiting);
            break;
        }
        reply->assign(static_cast<size_t>(waiting), 0);
        int32 code;
        ssize_t got = read_port_etc(vol->replyPort, &code, reply->data(), reply->size(), B_TIMEOUT,
                                    left > 0 ? left : 0);
        if (got < 0) {
            result = static_cast<status_t>(got);
            break;
        }
        if (host_is_connect_reply(code)) {
            end_unwanted_session(vol, code);
            continue;
        }
        reply->resize(static_cast<size_t>(got));
        epoc::reply_header header;
        if (reply->size() > epoc::kMaxReply ||
            !epoc::parse_header(reply->data(), reply->size(), &header)) {
            result = B_BAD_DATA;  // garbled: it cannot be told what it answers
            break;
        }
        if (header.opid != opid) continue;  // a late reply to an earlier request
        device = header.status;
        *device_status = device;
        break;
    }
    if (result != B_OK)
        debug_line("%c: request 0x%02x (operation %u) got no usable reply: %s", vol->drive,
                   BytesToUword(request), opid,
                   result == B_TIMED_OUT     ? "none came in time"
                   : result == B_BAD_DATA    ? "garbled"
                   : result == B_BAD_PORT_ID ? "the link is gone"
                                             : "the port failed");
    if (use != handle_use::none) note_handles_locked(vol, use, result, *reply, device);
    if (result == B_BAD_PORT_ID) vol->connected.store(false);  // the link is gone for good
    return result == B_OK ? B_OK : B_IO_ERROR;
}

}  // namespace

status_t simple_request(volume* vol, uint8* request, size_t size) {
    if (size == 0) return B_NAME_TOO_LONG;
    std::vector<uint8> reply;
    int32 device;
    status_t status = transact(vol, request, size, &reply, &device);
    if (status != B_OK) return status;
    return epoc::map_status(device);
}

status_t request_entry(volume* vol, const std::string& path, epoc::dir_entry* entry,
                       std::vector<uint8>* reply) {
    uint8 request[epoc::kMaxRequest];
    size_t size = epoc::build_path_request(request, sizeof request, epoc::kRemoteEntry, 0, path);
    if (size == 0) return B_NAME_TOO_LONG;
    int32 device;
    status_t status = transact(vol, request, size, reply, &device);
    if (status != B_OK) return status;
    if (device != epoc::kOk) return epoc::map_status(device);
    if (!epoc::parse_dir_entry(reply->data(), reply->size(), epoc::kHeaderSize, entry))
        return B_IO_ERROR;
    return B_OK;
}

status_t request_volume(volume* vol, epoc::volume_info* info) {
    uint8 request[16];
    size_t size =
        epoc::build_volume(request, sizeof request, 0, static_cast<uint32>(vol->drive - 'A'));
    std::vector<uint8> reply;
    int32 device;
    status_t status = transact(vol, request, size, &reply, &device);
    if (status != B_OK) return status;
    if (device != epoc::kOk) return epoc::map_status(device);
    return epoc::parse_volume(reply.data(), reply.size(), info) ? B_OK : B_IO_ERROR;
}

namespace {

// An open of a file or a folder listing, built in `request`: the device's new handle.
status_t open_handle(volume* vol, uint8* request, size_t size, uint32* handle, uint32* session) {
    if (size == 0) return B_NAME_TOO_LONG;
    std::vector<uint8> reply;
    int32 device;
    status_t status = transact(vol, request, size, &reply, &device, handle_use::opens, session);
    if (status != B_OK) return status;
    if (device != epoc::kOk) return epoc::map_status(device);
    return epoc::parse_u32(reply.data(), reply.size(), 0, handle) ? B_OK : B_IO_ERROR;
}

}  // namespace

status_t open_file(volume* vol, uint16 op, uint32 mode, const std::string& path, uint32* handle,
                   uint32* session) {
    uint8 request[epoc::kMaxRequest];
    size_t size = epoc::build_open_file(request, sizeof request, op, 0, mode, path);
    return open_handle(vol, request, size, handle, session);
}

status_t open_dir(volume* vol, uint32 attributes, const std::string& pattern, uint32* handle,
                  uint32* session) {
    uint8 request[epoc::kMaxRequest];
    size_t size = epoc::build_open_dir(request, sizeof request, 0, attributes, pattern);
    return open_handle(vol, request, size, handle, session);
}

status_t close_handle(volume* vol, uint32 handle, uint32 session) {
    uint8 request[16];
    size_t size = epoc::build_handle_request(request, sizeof request, epoc::kClose, 0, handle);
    std::vector<uint8> reply;
    int32 device;
    status_t status = transact(vol, request, size, &reply, &device, handle_use::closes, &session);
    if (status == kHandleGone) return B_OK;  // it went with its session
    return status == B_OK ? epoc::map_status(device) : status;
}

cookie* new_handle_cookie(volume* vol, uint32 handle, uint32 session) {
    cookie* c = new (std::nothrow) cookie;
    if (c == nullptr) {
        // The open is given up; a close that fails leaves the handle to its session's end.
        (void)close_handle(vol, handle, session);
        return nullptr;
    }
    c->handle = handle;
    c->session = session;
    c->has_handle = true;
    return c;
}

}  // namespace tavro5
