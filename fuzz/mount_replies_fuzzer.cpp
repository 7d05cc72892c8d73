// The mount client's reply parsing: StartMount against a device whose every answer comes from
// the input. Input: a byte with the family (bit 0: Series 5) and whether the connect is
// accepted (bit 1 set: refused), then replies of [8-bit length][bytes]. Once the input is used
// up, the device answers with a short error, which ends every loop of the client.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <semaphore>
#include <thread>
#include <vector>

#include "ConfigVar.h"
#include "RfsvClient.h"
#include "kernel/syscalls.h"
#include "platform/ByteOrder.h"
#include "platform/HostProtocol.h"
#include "platform/OS.h"
#include "platform/Series3Wire.h"

namespace {

constexpr int32 kStopDevice = 0x7E0000;
constexpr uint16 kChannel = 5;

port_id requestPort = -1;

// One device thread for the whole run: a thread per input would cost more than the input.
struct Turn {
    const uint8* data = nullptr;
    size_t size = 0;
    port_id replyPort = -1;
};
Turn turn;
std::binary_semaphore inputReady{0}, inputDone{0};

// Answers every request of one StartMount; returns the client's reply port.
port_id RunDevice(const uint8* data, size_t size) {
    port_id replyPort = -1;
    size_t at = 1;
    std::vector<uint8> buffer(4096);
    for (;;) {
        int32 code = 0;
        ssize_t got = read_port(requestPort, &code, buffer.data(), buffer.size());
        if (got < 0 || code == kStopDevice) return replyPort;
        if (code == HOST_CONNECT_REQUEST) {
            if (got >= 4) replyPort = static_cast<port_id>(BytesToUlong(buffer.data()));
            int32 answer =
                (data[0] & 2) != 0 ? HOST_DISCONNECT_REQUEST : HOST_CONNECT_REPLY + kChannel;
            (void)write_port(replyPort, answer, "", 0);
            continue;
        }
        std::vector<uint8> reply;
        if (at < size) {
            size_t length = data[at++];
            if (length > size - at) length = size - at;
            reply.assign(data + at, data + at + length);
            at += length;
        } else {
            reply = {RFSV_REPLY_CODE, 0, 0, 0, 0xFF, 0xFF};  // RFSV_GENERAL_FAILURE
        }
        (void)write_port(replyPort, host_channel_packet(kChannel), reply.data(), reply.size());
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The client traces to standard output; millions of lines would only slow the run.
    if (freopen("/dev/null", "w", stdout) == nullptr) return 0;
    requestPort = create_port(HOST_REPLY_PORT_CAPACITY, HOST_REQUEST_PORT_NAME);
    // No file system is found, so no drive is mounted for real.
    kernel_set_addon_path("/nonexistent-tavro-fuzz");
    std::thread([] {
        for (;;) {
            inputReady.acquire();
            turn.replyPort = RunDevice(turn.data, turn.size);
            inputDone.release();
        }
    }).detach();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    CONFIG_VAR config{};
    // Mount points cannot be made under /proc: nothing is left behind.
    strcpy(config.mountPoint, "/proc/tavro-fuzz");
    turn.data = data;
    turn.size = size;
    inputReady.release();
    {
        RfsvClient client(&config);
        (void)client.StartMount((data[0] & 1) != 0 ? 5 : 3);
    }
    (void)write_port(requestPort, kStopDevice, "", 0);
    inputDone.acquire();
    if (turn.replyPort >= 0) delete_port(turn.replyPort);
    return 0;
}
