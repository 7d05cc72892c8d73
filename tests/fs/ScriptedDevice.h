// A scripted Series 3 for wire tests: it owns a request port like the host's "WritePsion",
// expects exact request bytes on the volume's channel and answers canned reply bytes on the
// reply port, optionally late or never. What it saw and every mismatch are kept for the test.
#pragma once

#include <array>
#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/OS.h"

using Bytes = std::vector<uint8>;

// A request packet: opcode, payload length, payload.
Bytes Packet(uint16 opcode, const Bytes& payload);
// A path payload: the characters and a NUL.
Bytes PathBytes(const std::string& path);
Bytes Concat(std::initializer_list<Bytes> parts);
// A reply packet: response code, length (status and data), status, data.
Bytes Reply(int16 status, const Bytes& data = {});
// A reply whose length word is set to the bytes it holds, after data were appended to it.
Bytes Sealed(Bytes reply);
// A 16-byte directory entry header (and the name with its NUL when `name` is given).
Bytes Entry(uint16 attributes, uint32 size, uint32 mtime, const char* name = nullptr);
std::string Hex(const Bytes& bytes);

class ScriptedDevice {
public:
    static constexpr uint16 kChannel = 7;

    ScriptedDevice();
    ~ScriptedDevice();

    // The next request must be `request`; it is answered with `reply` after `delay` µs.
    void Expect(const Bytes& request, const Bytes& reply, bigtime_t delay = 0);
    // The next request must be `request`; it is never answered.
    void ExpectSilence(const Bytes& request);
    // Answers requests that come when the script is used up; without one they are failures.
    void SetResponder(std::function<std::optional<Bytes>(const Bytes&)> responder);

    // Faults on the replies of the responder: the device carries the request out, and then
    // its reply is lost, comes late, comes cut short or comes mangled.
    enum class Fault { Lost, Late, Truncated, Garbage };
    // The `nth` (1 = the next) responder request with `opcode` from now on meets `fault`.
    // A late reply comes after `delay` µs; a truncated one keeps `keep` bytes.
    void FaultReply(uint16 opcode, int nth, Fault fault, bigtime_t delay = 0, size_t keep = 4);
    // Faults armed and not yet met.
    size_t PendingFaults();

    // Waits (up to a second) until every scripted exchange has happened.
    bool WaitScriptDone();
    std::vector<Bytes> Requests();
    size_t RequestCount();
    std::vector<std::string> Failures();
    // Deletes both ports, as the host does when the link goes.
    void CutLink();

    // The 408-byte mount parameter block, built byte by byte.
    std::array<uint8, 408> MountBlock(const char* device, const char* debugFile = "") const;

    port_id requestPort;
    port_id replyPort;
    sem_id sem;

private:
    struct Exchange {
        Bytes request;
        std::optional<Bytes> reply;
        bigtime_t delay;
    };

    void Run();

    std::mutex lock_;
    std::deque<Exchange> script_;
    std::function<std::optional<Bytes>(const Bytes&)> responder_;
    struct ArmedFault {
        uint16 opcode;
        int countdown;
        Fault fault;
        bigtime_t delay;
        size_t keep;
    };
    std::vector<ArmedFault> faults_;
    std::vector<Bytes> requests_;
    std::vector<std::string> failures_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};
