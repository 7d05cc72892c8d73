// A simulated handheld: the servers it runs and how a desktop reaches them. The host opens one
// session per channel; each request packet yields at most one reply packet.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device/DriveSetup.h"
#include "platform/SupportDefs.h"

namespace handheld {

using Bytes = std::vector<uint8>;

// One open channel to a server on the device.
class Session {
public:
    virtual ~Session() = default;
    // Answers one request packet. Returns false when the server sends nothing back.
    virtual bool Handle(const uint8* packet, size_t size, Bytes& reply) = 0;
};

enum class Family : int32 { Series3 = 3, Series5 = 5 };

struct HandheldOptions {
    Family family = Family::Series3;
    std::vector<DriveSetup> drives;
    // Series 3 name rules (8.3, stored upper case) relaxed to long names of any case, for
    // tests that need names a real Series 3 would refuse.
    bool relaxedNames = false;
};

class Handheld {
public:
    virtual ~Handheld() = default;

    // Makes the device for the options' family.
    static std::unique_ptr<Handheld> Create(const HandheldOptions& options);

    virtual Family GetFamily() const = 0;
    // True when a connect to `server` would be accepted now (case-insensitive name).
    virtual bool HasServer(const std::string& server) = 0;
    // Opens a session for a channel; null when the device has no such server.
    virtual std::unique_ptr<Session> Open(const std::string& server) = 0;
    // The link dropped: open files close and registrations of started servers lapse.
    virtual void LinkDropped() = 0;
};

}  // namespace handheld
