// A client add-on for the host's tests: counts its calls, connects to the file service when
// its RunClient starts and waits for the link-down message. With TAVRO_TEST_ADDON_LOG set it
// also appends what happened to that file, for tests of the vantrel process.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ConfigVar.h"
#include "ConfigView.h"
#include "TestAddOnState.h"
#include "platform/ByteOrder.h"
#include "platform/HostProtocol.h"
#include "platform/OS.h"

static TestAddOnState state;

static void Log(const char* text, int32 value) {
    if (const char* path = getenv("TAVRO_TEST_ADDON_LOG")) {
        if (FILE* file = fopen(path, "a")) {
            fprintf(file, "%s %d\n", text, value);
            fclose(file);
        }
    }
}

extern "C" {

// Settings as tavro-mount keeps them, behind the same settings view, so the host can set the
// mount root here too.
CONFIG_VAR configs;
BView* ConfigView(BRect frame) { return new AddOnConfigView(frame, &configs); }

// Declared extern: a const array in a braced extern "C" block would stay internal.
extern const char InfoVersion[] = "9.9.9  test add-on";
extern const char InfoLine1[] = "line one";
extern const char InfoLine2[] = "line two";
extern const char InfoLine3[] = "line three";

TestAddOnState* TestAddOnStatePointer() { return &state; }

int32 Initialise() {
    ++state.initialised;
    strcpy(configs.mountPoint, "/mnt/psion");
    return 0;
}

int32 RunClient(int32 version) {
    ++state.runs;
    state.lastVersion = version;
    __atomic_store_n(&state.channel, 0, __ATOMIC_RELEASE);
    Log("run", version);
    port_id request = find_port(HOST_REQUEST_PORT_NAME);
    port_id reply = create_port(HOST_REPLY_PORT_CAPACITY, "TestAddOn");
    if (request >= 0 && reply >= 0) {
        uint8 message[16] = {};
        LongToBytes(static_cast<uint32>(reply), message);
        memcpy(message + 4, "SYS$RFSV.*", 10);
        write_port(request, HOST_CONNECT_REQUEST, message, sizeof(message));
        int32 code = 0;
        uint8 buffer[128];
        if (read_port_etc(reply, &code, buffer, sizeof(buffer), B_TIMEOUT, 5000000) >= 0 &&
            host_is_connect_reply(code))
            __atomic_store_n(&state.channel, host_code_channel(code), __ATOMIC_RELEASE);
    }
    Log("channel", state.channel);
    for (;;) {
        thread_id sender;
        int32 code = receive_data(&sender, nullptr, 0);
        if (code != HOST_LINK_DOWN) {
            ++state.otherMessages;
            continue;
        }
        if (!state.busyUntilDetached || __atomic_load_n(&state.detached, __ATOMIC_ACQUIRE)) break;
    }
    ++state.linkDowns;
    Log("link-down", state.linkDowns);
    delete_port(reply);
    return 0;
}

}  // extern "C"
