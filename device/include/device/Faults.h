// Faults the simulated link can inject into the replies of channel requests. Each fault
// counts the channel packets that reach a server (optionally only those of one server) from
// the moment it is armed, and strikes on the `nth` of them and the `count` - 1 that follow.
#pragma once

#include <cstddef>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "device/Handheld.h"
#include "platform/SupportDefs.h"

namespace handheld {

enum class FaultKind {
    NoReply,         // the request is carried out, its reply is lost
    LateReply,       // the reply comes `delay` microseconds late (after the caller gave up)
    TruncatedReply,  // only the first `keepBytes` bytes of the reply arrive
    GarbageReply,    // the reply is replaced by random bytes of the same length
    LinkCut,         // the link drops instead of answering
};

struct FaultRule {
    FaultKind kind = FaultKind::NoReply;
    uint32 nth = 1;
    uint32 count = 1;
    std::string server;         // empty: any server
    bigtime_t delay = 4000000;  // LateReply
    size_t keepBytes = 5;       // TruncatedReply: less than a status needs

    // Parses "drop:N", "late:N[:ms]", "truncate:N[:bytes]", "garbage:N", "cut:N", each
    // optionally followed by "xCOUNT" on N and "@SERVER": e.g. "drop:3x2@SYS$RFSV".
    static std::optional<FaultRule> Parse(const std::string& text);
    std::string ToString() const;
};

// What to do with one reply.
struct FaultDecision {
    enum class Action { Deliver, Drop, Delay, CutLink } action = Action::Deliver;
    bigtime_t delay = 0;
    const char* name = nullptr;  // the fault's name, for the trace
};

// Thread-safe: tests arm faults while the router applies them.
class FaultInjector {
public:
    explicit FaultInjector(uint32 seed = 0x5EED);

    void Set(std::vector<FaultRule> faults);
    void Add(const FaultRule& fault);
    void Clear();
    // How many faults have struck since the injector was made.
    uint32 Strikes() const;

    // Counts a request to `server` and applies any fault due to its reply, which it may
    // shorten or scramble in place.
    FaultDecision Apply(const std::string& server, Bytes& reply);

private:
    struct Armed {
        FaultRule rule;
        uint32 seen = 0;
    };
    mutable std::mutex fLock;
    std::vector<Armed> fFaults;
    std::mt19937 fRandom;
    uint32 fStrikes = 0;
};

}  // namespace handheld
