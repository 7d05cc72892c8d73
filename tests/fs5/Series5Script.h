// A scripted Series 5 for tavro5's tests: it owns ports like the host's "WritePsion" and a
// connection's reply port, hands every request to the test's handler and sends back what the
// handler answers (or nothing). Every request is kept for the test to look at.
#pragma once

#include <array>
#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "Series5Bytes.h"
#include "platform/OS.h"

class Series5Script {
public:
    static constexpr uint16 kChannel = 9;
    using Handler = std::function<std::optional<s5::Bytes>(const s5::Bytes& request)>;

    Series5Script();
    ~Series5Script();

    void SetHandler(Handler handler);
    std::vector<s5::Bytes> Requests();
    // Requests of one operation.
    std::vector<s5::Bytes> Requests(uint16 op);
    void ClearRequests();
    // Sends a message on the reply port by itself (a late reply, for instance).
    void Inject(const s5::Bytes& reply);

    // The 408-byte mount parameter block for `device` ("C:").
    std::array<uint8, 408> MountBlock(const char* device) const;

    port_id requestPort;
    port_id replyPort;
    sem_id sem;

private:
    void Run();

    std::mutex lock_;
    Handler handler_;
    std::vector<s5::Bytes> requests_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};
