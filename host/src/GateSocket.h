// The gateway door's socket: where it lives, making its folder safe, claiming the path from a
// dead host without stealing it from a live one, and who is on the other end of a connection.
#pragma once

#include <sys/types.h>

#include <string>

#include "platform/OS.h"

namespace vantrel::gate {

// $XDG_RUNTIME_DIR/tavro/gate.sock; /run/tavro/gate.sock for root; /tmp/tavro-UID/gate.sock
// when a user has no runtime folder.
std::string DefaultSocketPath();

struct Listener {
    int fd = -1;      // listening, non-blocking
    int lockFd = -1;  // held while the door is open: a second host sees the path is taken
    std::string path;
    dev_t device = 0;  // of the socket file, so that closing removes ours and nothing else
    ino_t inode = 0;
};

// Makes the socket's folder (0700, owned by this user, not a link) and listens on `path`
// (0600). A socket left by a host that died is replaced. B_NAME_IN_USE when another host
// serves the path; B_NOT_ALLOWED when the folder or path is someone else's or not a socket;
// *message says what happened in plain words.
status_t OpenListener(const std::string& path, Listener& listener, std::string& message);
// Closes the socket and removes its file if it is still the one we made.
void CloseListener(Listener& listener);

struct Peer {
    pid_t pid = -1;
    uid_t uid = static_cast<uid_t>(-1);
    gid_t gid = static_cast<gid_t>(-1);
};
// The credentials the kernel recorded when the peer connected; false when it cannot tell.
bool PeerOf(int fd, Peer& peer);
// Only the host's own user and root come in.
inline bool PeerAllowed(const Peer& peer, uid_t owner) {
    return peer.uid == owner || peer.uid == 0;
}

}  // namespace vantrel::gate
