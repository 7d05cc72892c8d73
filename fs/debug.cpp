#include "debug.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/OS.h"

namespace {

// One for the whole add-on: the last mount's value holds for every volume.
char debugFile[128];
std::mutex debugFileLock;
std::atomic<port_id> debugWindowPort{-1};

}  // namespace

void set_debug_file(const char* path) {
    std::lock_guard<std::mutex> hold(debugFileLock);
    size_t length = strnlen(path, sizeof debugFile - 1);
    memcpy(debugFile, path, length);
    debugFile[length] = '\0';
}

void dbg_print(const char* label, size_t count, const uint8* bytes) {
    char path[sizeof debugFile];
    {
        std::lock_guard<std::mutex> hold(debugFileLock);
        memcpy(path, debugFile, sizeof path);
    }
    if (path[0] == '\0') return;

    // One write per call, so that dumps of concurrent requests do not interleave.
    static const char kHex[] = "0123456789abcdef";
    std::string text(label);
    text.reserve(text.size() + 3 * count);
    for (size_t i = 0; i < count; i++) {
        text += kHex[bytes[i] >> 4];
        text += kHex[bytes[i] & 0xF];
        text += ' ';
    }
    int fd = open(path, O_RDWR | O_CREAT | O_APPEND, 0644);
    if (fd < 0) return;
    ssize_t written = write(fd, text.data(), text.size());
    (void)written;
    close(fd);
}

void debug_print(const char* text) {
    port_id port = debugWindowPort.load();
    if (port < 0) {
        port = find_port("DebugWinRead");
        if (port < 0) return;
        debugWindowPort.store(port);
    }
    if (write_port_etc(port, 0, text, strlen(text), B_TIMEOUT, 0) == B_BAD_PORT_ID)
        debugWindowPort.store(-1);  // the window went away; look for a new one next time
}
