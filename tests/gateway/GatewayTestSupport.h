// Helpers shared by the gateway suites.
#pragma once

#include <cstdarg>
#include <cstdio>
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

// The trace of a connect request that the device answered with channel `chan`.
inline std::vector<std::string> ConnReqAnswered(const char* name, port_id port, uint16 chan) {
    std::string pattern = std::string(name) + ".*";
    return {Format("ConnReq [%s]", name),
            Format("GetPort [%s]", name),
            Format("GetPort [%s] port %d", name, port),
            Format("Requesting Server start with %s (size %d)", pattern.c_str(),
                   static_cast<int>(4 + pattern.size() + 1)),
            Format("response: r_byte = 0 msg %x", 0x60000 + chan),
            Format("Server %s is running...", name)};
}

// The trace of a connect request that went unanswered.
inline std::vector<std::string> ConnReqUnanswered(const char* name, port_id port) {
    std::string pattern = std::string(name) + ".*";
    return {Format("ConnReq [%s]", name),
            Format("GetPort [%s]", name),
            Format("GetPort [%s] port %d", name, port),
            Format("Requesting Server start with %s (size %d)", pattern.c_str(),
                   static_cast<int>(4 + pattern.size() + 1)),
            Format("response: r_byte = %d msg 0", static_cast<int>(B_TIMED_OUT)),
            Format("ConnReq failed -- deleting port %d", port)};
}

inline void Append(std::vector<std::string>& to, const std::vector<std::string>& lines) {
    to.insert(to.end(), lines.begin(), lines.end());
}

// The 16-bit check value of a register request on the wire.
inline uint16 RegisterCheck(const ScriptedDevice::Request& request) {
    return request.data.size() >= 3 ? static_cast<uint16>(request.data[1] | (request.data[2] << 8))
                                    : 0;
}
