// Helpers shared by the gateway suites.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "GatewayWaits.h"
#include "ServersDevice.h"
#include "TraceCapture.h"

// The waits for tests whose servers answer at once when they answer at all: a connect request
// that goes unanswered costs a second rather than three. An add-on loaded with dlopen takes
// them from the environment instead (TAVRO_GATE_CONNECT_MS) when its RunClient starts.
inline GatewayWaits ShortConnectWaits() {
    GatewayWaits waits;
    waits.connect = 1000000;
    return waits;
}

inline std::string Format(const char* format, ...) {
    char buffer[512];
    va_list args;
    va_start(args, format);
    vsnprintf(buffer, sizeof(buffer), format, args);
    va_end(args);
    return buffer;
}

// The trace of a connect request up to its answer: the port looked up, the request sent.
inline std::vector<std::string> ConnReqSent(const char* name, port_id port) {
    std::string pattern = std::string(name) + ".*";
    return {Format("ConnReq [%s]", name), Format("GetPort [%s]", name),
            Format("GetPort [%s] port %d", name, port),
            Format("Requesting Server start with %s (size %d)", pattern.c_str(),
                   static_cast<int>(4 + pattern.size() + 1))};
}

// The trace of a connect request that the device answered with channel `chan`.
inline std::vector<std::string> ConnReqAnswered(const char* name, port_id port, uint16 chan) {
    std::vector<std::string> lines = ConnReqSent(name, port);
    lines.push_back(Format("response: r_byte = 0 msg %x", 0x60000 + chan));
    lines.push_back(Format("Server %s is running...", name));
    return lines;
}

// The trace of a connect request that went unanswered.
inline std::vector<std::string> ConnReqUnanswered(const char* name, port_id port) {
    std::vector<std::string> lines = ConnReqSent(name, port);
    lines.push_back(Format("response: r_byte = %d msg 0", static_cast<int>(B_TIMED_OUT)));
    lines.push_back(Format("ConnReq failed -- deleting port %d", port));
    return lines;
}

inline void Append(std::vector<std::string>& to, const std::vector<std::string>& lines) {
    to.insert(to.end(), lines.begin(), lines.end());
}

// The trace of DoCmd sending a packet of `sent` bytes on channel `chan` (replies to `port`)
// and reading a reply of `received` bytes.
inline std::vector<std::string> DoCmdAnswered(int chan, port_id port, int sent, int received) {
    return {Format("DoCmd to chan ID %x (rcv port %d), pkt len %d", chan, port, sent),
            "write_port result 0", Format("port_buffer_size result %d", received),
            Format("read_port result %d", received)};
}

// The looper's trace of a 'pcmd' request that DoCmd answered.
inline std::vector<std::string> LooperCommandAnswered(int chan, port_id port, int sent,
                                                      int received) {
    std::vector<std::string> lines = {"LinkLooper got msg dmcp", "got 'pcmd'"};
    Append(lines, DoCmdAnswered(chan, port, sent, received));
    lines.push_back(Format("DoCmd returned %d bytes", received));
    return lines;
}

// The trace of a register request for `name` sent on the LINK channel (`linkPort`,
// `linkChan`), up to the wait for its reply.
inline std::vector<std::string> RegisterRequestSent(const char* name, port_id linkPort,
                                                    uint16 linkChan) {
    int length = static_cast<int>(3 + strlen(name) + 1);  // command, check value, name, NUL
    return {Format("LinkReq [%s]", name),
            "ConnLinkSrv ",
            "GetPort [LINK]",
            Format("GetPort [LINK] port %d", linkPort),
            Format("Link Server is running... [chan ID=%x]", linkChan),
            "regreq i 35 bytes, reply in 39",
            Format("LinkReq calling DoCmd [%s]", name),
            Format("DoCmd to chan ID %x (rcv port %d), pkt len %d", linkChan, linkPort, length),
            "write_port result 0"};
}

// The trace of ConnectServer for a server that answers only once the LINK server has
// registered it: the first connect request (from `firstPort`) unanswered, the register
// request answered with `check`, the second connect request answered.
inline std::vector<std::string> ConnectedAfterRegistration(const char* name, port_id firstPort,
                                                           port_id linkPort, uint16 linkChan,
                                                           uint16 check, port_id port,
                                                           uint16 chan) {
    std::vector<std::string> lines = {Format("ConnectServer [%s]", name)};
    Append(lines, ConnReqUnanswered(name, firstPort));
    Append(lines, RegisterRequestSent(name, linkPort, linkChan));
    Append(lines, {"port_buffer_size result 39", "read_port result 39",
                   Format("Register cmd reply code 0 check=%x, sent: %x", check, check),
                   Format("Register cmd returned status 0, name %s", name)});
    Append(lines, ConnReqAnswered(name, port, chan));
    return lines;
}

// The looper's trace of a 'conn' request around ConnectServer's trace (`connectServer`), when
// the connection was made.
inline std::vector<std::string> LooperConnected(const std::vector<std::string>& connectServer,
                                                port_id port, int16 chan) {
    std::vector<std::string> lines = {"LinkLooper got msg nnoc", "got 'conn'"};
    Append(lines, connectServer);
    lines.push_back(Format("returning conn msg 636f6e6e with port %d chan %x", port, chan));
    return lines;
}

// The same for a server that answered the first connect request.
inline std::vector<std::string> LooperConnectedAtOnce(const char* name, port_id port, int16 chan) {
    std::vector<std::string> connectServer = {Format("ConnectServer [%s]", name)};
    Append(connectServer, ConnReqAnswered(name, port, static_cast<uint16>(chan)));
    return LooperConnected(connectServer, port, chan);
}

// The 16-bit check value of a register request on the wire.
inline uint16 RegisterCheck(const ScriptedDevice::Request& request) {
    return request.data.size() >= 3 ? static_cast<uint16>(request.data[1] | (request.data[2] << 8))
                                    : 0;
}
