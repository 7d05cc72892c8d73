#include "shell.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>
#include <utility>
#include <vector>

namespace fusetest {

Result run(const std::string& command, int seconds) {
    Result result;
    std::string line =
        "timeout -k 2 " + std::to_string(seconds) + " sh -c " + quote(command) + " 2>&1";
    FILE* pipe = popen(line.c_str(), "r");
    if (pipe == nullptr) return result;
    char buffer[4096];
    size_t count;
    while ((count = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, count);
    int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

Result tar_copy(const std::string& from, const std::string& into, const std::string& archive) {
    return run("tar -C " + quote(from) + " -cf " + quote(archive) + " OPL WRD && mkdir " +
               quote(into) + " && tar -C " + quote(into) + " -xf " + quote(archive) +
               " && diff -r " + quote(from + "/OPL") + " " + quote(into + "/OPL"));
}

Result rsync_twice(const std::string& rsync, const std::string& from, const std::string& into) {
    std::string folders = " " + quote(from + "/") + " " + quote(into + "/");
    return run(rsync + folders + " && diff -r " + quote(from) + " " + quote(into) + " && " + rsync +
               " -i" + folders);
}

std::string quote(const std::string& path) {
    std::string quoted = "'";
    for (char c : path) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

std::string make_temporary_folder(const char* prefix) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/" + prefix + "XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (mkdtemp(name.data()) == nullptr) return "";
    return name.data();
}

void remove_tree(const std::string& path) {
    if (!path.empty()) (void)run("rm -rf " + quote(path));
}

namespace {

// The mount table's lines, each with its mount point.
std::vector<std::pair<std::string, std::string>> mount_table() {
    std::vector<std::pair<std::string, std::string>> table;
    std::ifstream mounts("/proc/self/mounts");
    std::string line;
    while (std::getline(mounts, line)) {
        std::istringstream fields(line);
        std::string device, where;
        if (fields >> device >> where) table.emplace_back(where, line);
    }
    return table;
}

}  // namespace

bool mounted_at(const std::string& path) {
    for (const auto& [where, line] : mount_table())
        if (where == path) return true;
    return false;
}

std::string mounts_below(const std::string& prefix) {
    std::string found;
    for (const auto& [where, line] : mount_table())
        if (where.compare(0, prefix.size(), prefix) == 0) found += line + "\n";
    return found;
}

bool wait_for(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

}  // namespace fusetest
