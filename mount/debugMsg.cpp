#include "debugMsg.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

// One "<prefix>: <text>" line, in the log and on standard output.
void WriteLine(FILE* file, const char* prefix, const char* text) {
    fprintf(file, "%s: %s\n", prefix, text);
    printf("%s: %s\n", prefix, text);
}

}  // namespace

FILE* DebugMsg::OpenLog(const char* path, const char** refusal) {
    *refusal = nullptr;
    // Never through a symbolic link (one in a shared folder could point root at any file),
    // never waiting (a FIFO without a reader), always appending, and private when new.
    int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0) {
        if (errno == ELOOP) {
            *refusal = "it is a symbolic link";
        } else if (errno == EISDIR || errno == ENXIO) {
            *refusal = "it is not a regular file";  // a folder; a FIFO nobody reads
        }
        return nullptr;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        *refusal = "it is not a regular file";
    } else if (st.st_uid != geteuid()) {
        *refusal = "it belongs to another user";
    }
    FILE* file = *refusal == nullptr ? fdopen(fd, "a") : nullptr;
    if (file == nullptr) {
        close(fd);
    }
    return file;
}

DebugMsg::DebugMsg(const char* path, const char* prefix) : path(nullptr), prefix(nullptr) {
    if (path == nullptr || prefix == nullptr) {
        return;
    }
    this->path = strdup(path);
    this->prefix = strdup(prefix);
    if (!IsOn()) {
        return;
    }
    // Appended to: a log left by an earlier connection stays, and nothing that happens to be
    // at the path is ever emptied.
    const char* refusal = nullptr;
    FILE* file = OpenLog(this->path, &refusal);
    if (file == nullptr) {
        if (refusal != nullptr) {
            printf("%s: debug file %s refused: %s; no debug log\n", this->prefix, this->path,
                   refusal);
        }
        return;
    }
    WriteStamped(file, this->prefix, "Startup!");
    fclose(file);
}

DebugMsg::~DebugMsg() {
    FILE* file = OpenEntry();
    if (file != nullptr) {
        WriteStamped(file, prefix, "Closed!");
        fclose(file);
    }
    free(path);
    free(prefix);
}

FILE* DebugMsg::OpenEntry() const {
    if (!IsOn()) {
        return nullptr;
    }
    const char* refusal;
    return OpenLog(path, &refusal);
}

void DebugMsg::String(const char* message) {
    FILE* file = OpenEntry();
    if (file == nullptr) {
        return;
    }
    WriteLine(file, prefix, message);
    fclose(file);
}

void DebugMsg::Buffer(const void* bytes, uint32 count, const char* title) {
    FILE* file = OpenEntry();
    if (file == nullptr) {
        return;
    }
    if (title != nullptr) {
        WriteLine(file, prefix, title);
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
