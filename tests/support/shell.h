// Runs ordinary Linux programs for the tests and collects what they print.
#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace fusetest {

struct Result {
    int status = -1;     // exit status, or -1 when the program did not end normally
    std::string output;  // standard output and standard error together
};

// Runs `command` with /bin/sh; a command still running after `seconds` is killed (status 124).
Result run(const std::string& command, int seconds = 30);

// Copies the folders OPL and WRD of `from` into the new folder `into` through the tar archive
// `archive`, and compares the copy of OPL with its original. Status 0 when all went well.
Result tar_copy(const std::string& from, const std::string& into, const std::string& archive);

// Runs `rsync` (the command and its options) from the folder `from` into `into` twice: the copy
// must equal `from`, and the second run, itemised (-i), must find nothing to send. Status 0
// and no output when all went well.
Result rsync_twice(const std::string& rsync, const std::string& from, const std::string& into);

// Quotes a path for the shell.
std::string quote(const std::string& path);

// A fresh folder under the system's temporary folder, and its removal.
std::string make_temporary_folder(const char* prefix);
void remove_tree(const std::string& path);

// Whether a mount sits exactly at `path`.
bool mounted_at(const std::string& path);
// Every line of the mount table whose mount point starts with `prefix`.
std::string mounts_below(const std::string& prefix);

// Polls `condition` until it holds (true) or `limit` has passed (false).
bool wait_for(const std::function<bool()>& condition, std::chrono::milliseconds limit);

}  // namespace fusetest
