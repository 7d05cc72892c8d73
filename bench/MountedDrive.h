// One drive of the host's simulated handheld, on a temporary folder, mounted through the kernel
// for the file-system benchmarks (tavro3 on M: of a Series 3, or tavro5 on C: of a Series 5),
// and the file helpers they share.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "HostMount.h"
#include "TempDir.h"
#include "kernel/syscalls.h"

struct Mounted : HostMount {
    TempDir temp{"tavro-bench"};
    std::string folder = temp.path();
    std::string where;
    bool ok = false;
    bool series5 = false;

    explicit Mounted(handheld::LinkSpeed speed, bool keepRecords = false, bool series5_ = false)
        : where(series5_ ? "/bench5/Internal" : "/bench/INTERNAL"), series5(series5_) {
        if (folder.empty()) return;
        vantrel::HostOptions options;
        if (series5) options.family = vantrel::Family::Series5;
        options.drives.push_back(series5 ? HostDrive('C', "Internal", folder, 16 * 1024 * 1024)
                                         : HostDrive('M', "INTERNAL", folder, 16 * 1024 * 1024));
        options.speed = speed;
        options.traceInMemory = keepRecords;
        if (Start(options, 10000000) != B_OK) return;
        ok = Mount(series5 ? "tavro5" : "tavro3", series5 ? "C:" : "M:", where) == B_OK;
        host->Trace().Reset();
    }
    // The host stops before the folder goes.
    ~Mounted() { (void)Stop(); }
    // Requests with this opcode. tavro5 talks on a session of its own, so on a Series 5 every
    // channel counts; nothing else sends file requests.
    uint32 Sent(uint16 opcode) {
        return series5 ? host->Trace().CountRequests(opcode) : HostMount::Sent(opcode);
    }
    std::string Path(const char* name) const { return where + "/" + name; }
};

inline std::string Pattern(size_t size) {
    std::string out(size, '\0');
    for (size_t i = 0; i < size; i++) out[i] = static_cast<char>(i * 131 + (i >> 9));
    return out;
}

// Writes `content` with calls of `chunk` bytes; false on any failure.
inline bool WriteFile(Mounted& m, const char* name, const std::string& content, size_t chunk) {
    int fd = sys_open(m.Path(name).c_str(), B_O_WRONLY | B_O_CREAT | B_O_TRUNC, 0644);
    if (fd < 0) return false;
    for (size_t done = 0; done < content.size(); done += chunk) {
        size_t n = std::min(chunk, content.size() - done);
        if (sys_write(fd, static_cast<off_t>(done), content.data() + done, n) !=
            static_cast<ssize_t>(n)) {
            sys_close(fd);
            return false;
        }
    }
    return sys_close(fd) == B_OK;
}

// Reads the whole file with calls of `chunk` bytes; true when `size` bytes came.
inline bool ReadFile(Mounted& m, const char* name, size_t size, size_t chunk) {
    int fd = sys_open(m.Path(name).c_str(), B_O_RDONLY, 0);
    if (fd < 0) return false;
    std::vector<char> buffer(chunk);
    size_t done = 0;
    for (;;) {
        ssize_t n = sys_read(fd, static_cast<off_t>(done), buffer.data(), chunk);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    sys_close(fd);
    return done == size;
}
