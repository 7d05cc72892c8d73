// The gateway's door: a Unix-domain socket through which programs of the host's own user (and
// root) reach any server on the handheld. Each connection speaks the JSON lines of
// host/GateProtocol.h; what it asks goes on to linkgate. The door stays open across link drops
// and tells its clients when the link goes down or comes up.
//
//   vantrel::GateServer door(host, {});
//   std::string message;
//   if (door.Start(message) != B_OK) printf("%s\n", message.c_str());  // runs without a door
//   ...
//   door.Stop();
#pragma once

#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>

#include "platform/OS.h"

namespace vantrel {

class HostLink;

class GateServer {
public:
    struct Options {
        std::string socketPath;  // empty: the default place (host/GateSocket.h)
        uid_t owner;             // whose programs come in, besides root (default: ours)
        size_t maxClients = 32;
        size_t maxPending = 32;      // requests waiting per client; more are answered "busy"
        size_t maxOutput = 1 << 20;  // bytes of replies a client may leave unread; then dropped
        bigtime_t replyTimeout = 120000000;  // for one answer of linkgate
        // Where the door tells what happened (refusals, drops); default: standard error.
        std::function<void(const std::string&)> log;
        Options();
    };

    GateServer(HostLink& host, Options options);
    ~GateServer();  // stops
    GateServer(const GateServer&) = delete;
    GateServer& operator=(const GateServer&) = delete;

    // Opens the socket and starts serving. B_NAME_IN_USE when another host serves the path;
    // other statuses when the place is not safe or not usable. *message says why in words.
    status_t Start(std::string& message);
    // Closes every client (their channels are disconnected) and removes the socket.
    void Stop();

    const std::string& Path() const;
    size_t Clients() const;

private:
    struct State;
    std::unique_ptr<State> fState;
};

}  // namespace vantrel
