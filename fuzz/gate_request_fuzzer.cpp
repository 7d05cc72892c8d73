// The gateway door's request decoder on arbitrary lines: it must answer every one without
// crashing or throwing, and a packet it accepts must survive being encoded and decoded again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string_view>

#include "host/GateProtocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vantrel::gate;
    std::string_view line(reinterpret_cast<const char*>(data), size);
    Decoded decoded = DecodeRequest(line);
    if (!decoded.ok) {
        // The refusal itself must be a valid reply.
        std::string reply = ErrorReply(decoded.request.id, decoded.errorCode, decoded.errorText);
        if (!nlohmann::json::parse(reply, nullptr, false).is_object()) abort();
        return 0;
    }
    const Request& request = decoded.request;
    if (request.op == Op::Connect &&
        (request.server.empty() || request.server.size() > kMaxServerName))
        abort();
    if (request.op == Op::Send) {
        if (request.packet.size() > kMaxPacketBytes) abort();
        std::string reply = SendReply(request.id, request.packet, request.encoding);
        nlohmann::json parsed = nlohmann::json::parse(reply, nullptr, false);
        if (!parsed.is_object()) abort();
        auto back = request.encoding == Encoding::Hex
                        ? vantrel::FromHex(parsed.value("hex", ""))
                        : vantrel::FromBase64(parsed.value("base64", ""));
        if (!back || *back != request.packet) abort();
    }
    if ((request.op == Op::Send || request.op == Op::Disconnect) &&
        (request.channel < 1 || request.channel > 0xFFFF))
        abort();
    // The id is echoed as it came: it must read back as JSON.
    if (nlohmann::json::parse(request.id, nullptr, false).is_discarded()) abort();
    return 0;
}
