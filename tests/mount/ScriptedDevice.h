// A scripted stand-in for the host link application: it owns "WritePsion", expects exact
// request bytes in order and answers each with canned reply bytes on the caller's reply port.
#pragma once

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/OS.h"

using Bytes = std::vector<uint8>;

class ScriptedDevice {
public:
    struct Step {
        int32 code = 0;       // expected message code on "WritePsion"
        Bytes request;        // expected bytes; for a connect request, those after the port id
        bool answer = true;   // false: the device stays silent
        int32 replyCode = 0;  // code of the answer
        std::vector<Bytes> replies;  // one message each (a duplicate reply is a second one)
        bigtime_t delay = 0;         // pause before answering
    };

    ScriptedDevice();  // creates "WritePsion"
    ScriptedDevice(const ScriptedDevice&) = delete;
    ScriptedDevice& operator=(const ScriptedDevice&) = delete;
    ~ScriptedDevice();

    // A connect request for "SYS$RFSV.*", answered with `replyCode` (no answer when
    // `answer` is false).
    void ExpectConnect(int32 replyCode, bool answer = true);
    // A channel packet on `channel`, answered with `reply` (no answer when empty).
    void Expect(uint16 channel, Bytes request, Bytes reply, bigtime_t delay = 0);
    void ExpectSilence(uint16 channel, Bytes request);
    void Add(Step step);

    void Start();
    // Waits up to `timeout` for every step to have been met.
    bool WaitUntilDone(bigtime_t timeout);
    // Stops the device (deleting "WritePsion") and returns every mismatch and every request
    // that came beyond the script.
    std::vector<std::string> Finish();

    port_id Port() const { return port; }
    port_id ReplyPort() const;

private:
    void Run();
    void Fail(std::string what);

    port_id port;
    std::vector<Step> steps;
    std::thread thread;
    mutable std::mutex lock;
    size_t done = 0;
    port_id replyPort = -1;
    std::vector<std::string> errors;
};

// Reply packet of the Series 3 file service: response code, length, status and data.
Bytes SiboReply(int16 status, const Bytes& data = {});
// FDEVICEREAD reply naming `device` at offset 70.
Bytes DeviceReadReply(const std::string& device);
// FDEVICEINFO reply with `volume` at offset 20.
Bytes DeviceInfoReply(const std::string& volume);
Bytes Word(uint16 value);
Bytes operator+(Bytes a, const Bytes& b);
std::string Hex(const Bytes& bytes);
