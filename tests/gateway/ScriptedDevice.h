// A scripted stand-in for the host and its device: a thread that owns "WritePsion", records
// every request written to it and answers connect requests and channel packets by script.
#pragma once

#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/OS.h"

class ScriptedDevice {
public:
    enum class Answer { kAtOnce, kAfterRegister, kNever };

    struct Request {
        int32 code;
        std::vector<uint8> data;
    };

    ScriptedDevice();
    ~ScriptedDevice();  // deletes "WritePsion" and stops the thread

    // Servers not named here never answer; "LINK" answers unless the device is silent.
    void SetServer(const std::string& name, Answer answer);
    // Every command packet on a channel of `name` is answered with these bytes.
    void SetCommandReply(const std::string& name, std::vector<uint8> reply);
    // Replaces the LINK server's register reply (normally 39 bytes echoing the check value).
    void SetRegisterReply(std::vector<uint8> reply);
    // The LINK server takes register requests but never answers them.
    void SetRegisterUnanswered(bool unanswered);
    // A silent device answers nothing at all.
    void SetSilent(bool silent);
    // Answer connect requests with this channel instead of a fresh one.
    void SetFixedChannel(std::optional<uint16> chan);

    port_id Port() const { return fPort; }
    std::vector<Request> Requests();
    // Waits up to 5 s until `count` requests were written; returns how many there are.
    size_t WaitForRequests(size_t count);
    // The channel the device gave `name` last, 0 if none.
    uint16 ChannelOf(const std::string& name);

private:
    void Serve();
    void Handle(const Request& request);
    void Send(port_id port, int32 code, const std::vector<uint8>& data);

    port_id fPort;
    std::thread fThread;
    std::mutex fLock;
    std::condition_variable fChanged;
    std::vector<Request> fRequests;
    std::map<std::string, Answer> fServers;
    std::map<std::string, std::vector<uint8>> fCommandReplies;
    std::optional<std::vector<uint8>> fRegisterReply;
    std::set<std::string> fRegistered;
    struct Channel {
        std::string name;
        port_id replyPort;
    };
    std::map<uint16, Channel> fChannels;
    std::map<std::string, uint16> fLastChannel;
    uint16 fNextChannel = 0x11;
    std::optional<uint16> fFixedChannel;
    bool fSilent = false;
    bool fRegisterUnanswered = false;
};

// Little-endian int32 of a request's first four bytes (a connect request's reply port).
int32 RequestPortField(const ScriptedDevice::Request& request);
// The server pattern of a connect request ("SYS$RFSV.*").
std::string RequestPattern(const ScriptedDevice::Request& request);
