// The scripted device standing in for the host, with the handheld's servers behind it as the
// gateway meets them: connect requests are answered by server name ("LINK" always, unless the
// device is silent), the LINK server registers names, and command packets on a server's
// channel get the reply set for that server.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ScriptedDevice.h"

class ServersDevice : public ScriptedDevice {
public:
    enum class Answer { kAtOnce, kAfterRegister, kNever };

    ServersDevice();   // owns "WritePsion"
    ~ServersDevice();  // stops the device before the servers go

    // Servers not named here never answer; "LINK" answers unless the device is silent.
    void SetServer(const std::string& name, Answer answer);
    // Every command packet on a channel of `name` is answered with these bytes.
    void SetCommandReply(const std::string& name, Bytes reply);
    // Replaces the LINK server's register reply (normally 39 bytes echoing the check value).
    void SetRegisterReply(Bytes reply);
    // The LINK server takes register requests but never answers them.
    void SetRegisterUnanswered(bool unanswered);
    // A silent device answers nothing at all.
    void SetSilent(bool silent);
    // Answer connect requests with this channel instead of a fresh one.
    void SetFixedChannel(std::optional<uint16> chan);
    // The channel the device gave `name` last, 0 if none.
    uint16 ChannelOf(const std::string& name);

private:
    std::vector<Message> Serve(const Request& request);
    std::vector<Message> Connect(const Request& request);
    std::vector<Message> Register(const Request& request, port_id replyPort);

    std::mutex lock_;
    std::map<std::string, Answer> servers_;
    std::map<std::string, Bytes> commandReplies_;
    std::optional<Bytes> registerReply_;
    std::set<std::string> registered_;
    struct Channel {
        std::string name;
        port_id replyPort;
    };
    std::map<uint16, Channel> channels_;
    std::map<std::string, uint16> lastChannel_;
    uint16 nextChannel_ = 0x11;
    std::optional<uint16> fixedChannel_;
    bool silent_ = false;
    bool registerUnanswered_ = false;
};

// Little-endian int32 of a request's first four bytes (a connect request's reply port).
int32 RequestPortField(const ScriptedDevice::Request& request);
// The server pattern of a connect request ("SYS$RFSV.*").
std::string RequestPattern(const ScriptedDevice::Request& request);
