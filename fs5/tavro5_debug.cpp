#include "tavro5_debug.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace tavro5 {

namespace {

char debugFile[128];
std::mutex debugFileLock;

}  // namespace

void set_debug_file(const char* path) {
    std::lock_guard<std::mutex> hold(debugFileLock);
    size_t length = strnlen(path, sizeof debugFile);
    // A path cut short would name another file: none is kept instead.
    if (length == sizeof debugFile) length = 0;
    memcpy(debugFile, path, length);
    debugFile[length] = '\0';
}

void debug_line(const char* format, ...) {
    char path[sizeof debugFile];
    {
        std::lock_guard<std::mutex> hold(debugFileLock);
        memcpy(path, debugFile, sizeof path);
    }
    if (path[0] == '\0') return;

    char line[512];
    int lead = snprintf(line, sizeof line, "tavro5: ");
    va_list args;
    va_start(args, format);
    int length = vsnprintf(line + lead, sizeof line - lead - 1, format, args);
    va_end(args);
    if (length < 0) return;
    size_t size = strnlen(line, sizeof line - 1);
    line[size++] = '\n';

    // The mount client's rules for its log, which this is: never through a symbolic link,
    // never waiting, only a regular file of our own, private when new. One write a line, so
    // that lines of several threads do not interleave.
    int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0) return;
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid()) {
        ssize_t written = write(fd, line, size);
        (void)written;
    }
    close(fd);
}

}  // namespace tavro5
