// A scripted Series 5 for tavro5's tests, over the scripted device standing in for the host
// ("WritePsion", a connection's reply port and semaphore): connect requests get a channel of
// their own (a session), every request on an open channel goes to the test's handler, and what
// the handler answers (or nothing) goes back to that session's reply port. Every request is kept
// for the test to look at.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

#include "MountBlockBytes.h"
#include "ScriptedDevice.h"
#include "Series5Bytes.h"
#include "platform/OS.h"

class Series5Script {
public:
    static constexpr uint16 kChannel = 9;
    using Handler = std::function<std::optional<s5::Bytes>(const s5::Bytes& request)>;
    // Told when a session ends: its channel.
    using EndHandler = std::function<void(uint16 channel)>;

    Series5Script();

    void SetHandler(Handler handler);
    void SetEndHandler(EndHandler handler);
    // The channel of the request the handler is answering (valid inside the handler).
    uint16 CurrentChannel() const { return current_; }
    // Sessions begun, and sessions still open.
    int SessionsBegun();
    size_t SessionsOpen();
    std::vector<s5::Bytes> Requests();
    // Requests of one operation.
    std::vector<s5::Bytes> Requests(uint16 op);
    void ClearRequests();
    // Sends a message on the reply port by itself (a late reply, for instance).
    void Inject(const s5::Bytes& reply);

    // The 408-byte mount parameter block for `device` ("C:"), with a debug file or none.
    MountBlockBytes MountBlock(const char* device, const char* debugFile = "");

private:
    std::vector<ScriptedDevice::Message> Serve(const ScriptedDevice::Request& request);

    std::mutex lock_;
    Handler handler_;
    EndHandler endHandler_;
    std::map<uint16, port_id> sessions_;  // channel -> its reply port
    uint16 nextChannel_ = 20;
    int begun_ = 0;
    std::atomic<uint16> current_{0};
    std::atomic<port_id> latestPort_{-1};
    std::vector<s5::Bytes> requests_;
    ScriptedDevice device_;  // last: it stops before the sessions it serves go
};
