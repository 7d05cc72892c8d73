// What vantrel checks before it brings a link up: options that parse but cannot work, and the
// mount root that only one host at a time may serve.
#pragma once

#include <string>

#include "host/HostOptions.h"

namespace vantrel {

// Every drive's folder exists and is a folder (not a file, not a dangling link). False with
// `error` naming the drive otherwise.
bool CheckDriveFolders(const HostOptions& options, std::string& error);

// `path` made absolute against the working folder; an empty or absolute path as it is.
std::string AbsolutePath(const std::string& path);

enum class MountRootLock { Held, Taken, Unavailable };

// Takes the mount root for this process (made first, private to the user, when it does not
// exist yet) with an advisory lock that lasts until the process ends. Taken: another process
// holds it. Unavailable: the folder could not be made or opened; nothing was locked.
MountRootLock LockMountRoot(const std::string& mountRoot);

}  // namespace vantrel
