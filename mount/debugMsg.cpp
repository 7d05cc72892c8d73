#include "debugMsg.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

// ctime_r's text ends in a newline, as the log's timestamp lines expect.
void WriteStamped(FILE* file, const char* prefix, const char* event) {
    char stamp[32];
    time_t now = time(nullptr);
    if (ctime_r(&now, stamp) == nullptr) {
        strcpy(stamp, "?\n");
    }
    fprintf(file, "%s: %s Timestamp: %s", prefix, event, stamp);
}

}  // namespace

DebugMsg::DebugMsg(const char* path, const char* prefix) : path(nullptr), prefix(nullptr) {
    if (path == nullptr || prefix == nullptr) {
        return;
    }
    this->path = strdup(path);
    this->prefix = strdup(prefix);
    if (!IsOn()) {
        return;
    }
    // "w" empties a log left by an earlier connection.
    FILE* file = fopen(this->path, "w");
    if (file == nullptr) {
        return;
    }
    WriteStamped(file, this->prefix, "Startup!");
    fclose(file);
}

DebugMsg::~DebugMsg() {
    if (path != nullptr) {
        if (prefix != nullptr) {
            FILE* file = fopen(path, "a+");
            if (file != nullptr) {
                WriteStamped(file, prefix, "Closed!");
                fclose(file);
            }
        }
        free(path);
    }
    free(prefix);
}

void DebugMsg::String(const char* message) {
    if (!IsOn()) {
        return;
    }
    FILE* file = fopen(path, "a+");
    if (file == nullptr) {
        return;
    }
    fprintf(file, "%s: %s\n", prefix, message);
    printf("%s: %s\n", prefix, message);
    fclose(file);
}

void DebugMsg::Buffer(const void* bytes, uint32 count, const char* title) {
    if (!IsOn()) {
        return;
    }
    FILE* file = fopen(path, "a+");
    if (file == nullptr) {
        return;
    }
    if (title != nullptr) {
        fprintf(file, "%s: %s\n", prefix, title);
        printf("%s: %s\n", prefix, title);
    }
    const auto* data = static_cast<const uint8*>(bytes);
    fputs("    HEX: ", file);
    for (uint32 i = 0; i < count; i++) {
        fprintf(file, "%02x ", data[i]);
    }
    // Both leads are nine characters wide and every byte takes three columns, so each
    // character stands under its hex value.
    fputs("\n  ASCII: ", file);
    for (uint32 i = 0; i < count; i++) {
        fprintf(file, " %c ", data[i] < 0x20 ? '.' : static_cast<char>(data[i]));
    }
    fputs("\n", file);
    fclose(file);
}
