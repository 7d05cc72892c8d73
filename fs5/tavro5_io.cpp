// tavro5's transport: one request and its reply on the connection the mount client opened.
//
// Replies carry the request's operation id, so a reply that arrives after its request gave
// up is recognised and dropped instead of being taken for the answer to a later request.
#include <cstring>

#include "platform/ByteOrder.h"
#include "platform/HostProtocol.h"
#include "tavro5.h"

namespace tavro5 {

namespace {

void drop_message(port_id port) {
    uint8 scratch[16];
    int32 code;
    (void)read_port_etc(port, &code, scratch, sizeof scratch, B_TIMEOUT, 0);
}

}  // namespace

status_t transact(volume* vol, uint8* request, size_t size, std::vector<uint8>* reply,
                  int32* device_status) {
    if (!vol->connected.load()) return B_IO_ERROR;
    uint16 opid = vol->next_opid.fetch_add(1);
    WordToBytes(opid, request + 2);
    if (acquire_sem(vol->sem) != B_OK) return B_IO_ERROR;

    // Whatever waits on the port now answers an earlier request that gave up.
    while (port_count(vol->readPort) > 0) drop_message(vol->readPort);

    status_t result = B_OK;
    ssize_t written = write_port(vol->writePort, host_channel_packet(vol->channel), request, size);
    if (written < 0) result = static_cast<status_t>(written);
    bigtime_t deadline = system_time() + vol->timeout;
    while (result == B_OK) {
        bigtime_t left = deadline - system_time();
        if (left <= 0) {
            result = B_TIMED_OUT;
            break;
        }
        ssize_t waiting = port_buffer_size_etc(vol->readPort, B_TIMEOUT, left);
        if (waiting < 0) {
            result = static_cast<status_t>(waiting);
            break;
        }
        reply->assign(static_cast<size_t>(waiting), 0);
        int32 code;
        ssize_t got = read_port_etc(vol->readPort, &code, reply->data(), reply->size(), B_TIMEOUT,
                                    left > 0 ? left : 0);
        if (got < 0) {
            result = static_cast<status_t>(got);
            break;
        }
        reply->resize(static_cast<size_t>(got));
        epoc::reply_header header;
        if (reply->size() > epoc::kMaxReply ||
            !epoc::parse_header(reply->data(), reply->size(), &header)) {
            result = B_BAD_DATA;  // garbled: it cannot be told what it answers
            break;
        }
        if (header.opid != opid) continue;  // a late reply to an earlier request
        *device_status = header.status;
        break;
    }
    release_sem(vol->sem);
    if (result == B_BAD_PORT_ID) vol->connected.store(false);  // the link is gone for good
    return result == B_OK ? B_OK : B_IO_ERROR;
}

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

status_t open_file(volume* vol, uint16 op, uint32 mode, const std::string& path, uint32* handle) {
    uint8 request[epoc::kMaxRequest];
    size_t size = epoc::build_open_file(request, sizeof request, op, 0, mode, path);
    if (size == 0) return B_NAME_TOO_LONG;
    std::vector<uint8> reply;
    int32 device;
    status_t status = transact(vol, request, size, &reply, &device);
    if (status != B_OK) return status;
    if (device != epoc::kOk) return epoc::map_status(device);
    return epoc::parse_u32(reply.data(), reply.size(), 0, handle) ? B_OK : B_IO_ERROR;
}

status_t close_handle(volume* vol, uint32 handle) {
    uint8 request[16];
    size_t size = epoc::build_handle_request(request, sizeof request, epoc::kClose, 0, handle);
    return simple_request(vol, request, size);
}

}  // namespace tavro5
