// A scripted handheld behind the host's port protocol, for tests of whatever talks to it. A
// thread owns a request port (the host's "WritePsion", or a private one for a volume mounted
// by hand) and takes each request in turn: it must match the next step of the script, which is
// answered as the step says (at once, late, twice or never); past the script a handler
// answers, and with neither the request is a failure. Every request and every failure is kept
// for the test.
#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Bytes.h"
#include "MountBlockBytes.h"
#include "platform/OS.h"

class ScriptedDevice {
public:
    // The channel a volume mounted from MountBlock() talks on.
    static constexpr uint16 kChannel = 7;

    struct Options {
        // Name of the request port; empty: a private name of its own.
        std::string requestPortName;
        // A reply port and a transport semaphore of the device's own, as the mount client
        // makes for a connection. Without them replies go to the port of the last connect
        // request, or where the handler says.
        bool ownReplyPort = true;
        // Every request must be a packet on this channel (0: requests are not checked).
        uint16 channel = kChannel;
        // Off for long benchmark runs.
        bool keepRequests = true;
    };
    // Stands in for the host itself: owns "WritePsion", answers to connect requests' ports.
    static Options Host();

    struct Request {
        int32 code = 0;
        Bytes data;
    };
    // A message the device sends: to `port` (-1: the reply port) with `code`.
    struct Message {
        port_id port = -1;
        int32 code = 0;
        Bytes data;
    };
    struct Step {
        int32 code = 0;              // expected message code
        Bytes request;               // expected bytes; of a connect request, those after its port
        int32 replyCode = 0;         // code of the replies
        std::vector<Bytes> replies;  // one message each; none: the device stays silent
        bigtime_t delay = 0;         // pause before answering
    };
    using Handler = std::function<std::vector<Message>(const Request&)>;
    // A handler for plain request packets: the reply on the reply port, or none.
    using Responder = std::function<std::optional<Bytes>(const Bytes&)>;

    ScriptedDevice() : ScriptedDevice(Options()) {}
    explicit ScriptedDevice(Options options);
    ScriptedDevice(const ScriptedDevice&) = delete;
    ScriptedDevice& operator=(const ScriptedDevice&) = delete;
    ~ScriptedDevice();

    void Add(Step step);
    // A packet on `channel` (the device's own by default) answered with `reply` after `delay`
    // µs; an empty reply is never sent.
    void Expect(uint16 channel, const Bytes& request, const Bytes& reply, bigtime_t delay = 0);
    void Expect(const Bytes& request, const Bytes& reply, bigtime_t delay = 0);
    void ExpectSilence(uint16 channel, const Bytes& request);
    void ExpectSilence(const Bytes& request);
    // A connect request for "SYS$RFSV.*" answered with `replyCode`, or never.
    void ExpectConnect(int32 replyCode, bool answer = true);

    void SetHandler(Handler handler);
    void SetResponder(Responder responder);

    // Faults on the handler's replies: the device carries the request out, and then its reply
    // is lost, comes late, comes cut short or comes mangled.
    enum class Fault { Lost, Late, Truncated, Garbage };
    // The `nth` (1 = the next) handled request with `opcode` from now on meets `fault`. A late
    // reply comes after `delay` µs; a truncated one keeps `keep` bytes.
    void FaultReply(uint16 opcode, int nth, Fault fault, bigtime_t delay = 0, size_t keep = 4);
    // Faults armed and not yet met.
    size_t PendingFaults();

    // Waits until every step of the script has been met.
    bool WaitUntilDone(bigtime_t timeout = 1000000);
    // Waits up to 5 s until `count` requests came; returns how many there are.
    size_t WaitForRequests(size_t count);
    std::vector<Request> Requests();
    size_t RequestCount();
    std::vector<std::string> Failures();
    // Deletes the request port and the reply port, as the host does when the link goes.
    void CutLink();
    // Stops the device (deleting the request port) and returns every failure, the steps never
    // met among them.
    std::vector<std::string> Finish();

    port_id RequestPort() const { return requestPort_; }
    // The device's own reply port, or the port of the last connect request (-1 before one).
    port_id ReplyPort();
    sem_id Semaphore() const { return sem_; }
    // The block that mounts a volume of `device` from this device on kChannel.
    MountBlockBytes MountBlock(const char* device, const char* debugFile = "");

private:
    void Run();
    std::vector<Message> Answer(const Request& request, bigtime_t& delay);
    void ApplyFault(uint16 opcode, std::vector<Message>& replies, bigtime_t& delay);
    void Send(const std::vector<Message>& messages);

    const Options options_;
    port_id requestPort_;
    port_id ownReplyPort_ = -1;
    sem_id sem_ = -1;
    std::atomic<bool> requestPortGone_{false};
    std::atomic<bool> replyPortGone_{false};

    std::mutex lock_;
    std::deque<Step> script_;
    size_t stepsDone_ = 0;
    port_id connectPort_ = -1;
    Handler handler_;
    struct ArmedFault {
        uint16 opcode;
        int countdown;
        Fault fault;
        bigtime_t delay;
        size_t keep;
    };
    std::vector<ArmedFault> faults_;
    std::vector<Request> requests_;
    size_t requestCount_ = 0;
    std::vector<std::string> failures_;
    std::thread thread_;
};
