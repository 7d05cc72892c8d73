// The gateway door's language: one JSON object a line each way.
//
//   -> {"id":1,"op":"connect","server":"SYS$RFSV"}
//   <- {"id":1,"ok":true,"channel":3,"server":"SYS$RFSV"}
//   -> {"id":2,"op":"send","channel":3,"hex":"16000d004d3a5c4e4f5445532e54585400"}
//   <- {"id":2,"ok":true,"size":18,"hex":"2a00120000000000..."}
//   -> {"id":3,"op":"disconnect","channel":3}
//   <- {"id":3,"ok":true,"channel":3}
//   <- {"event":"link","state":"down","closed":[3]}      (no id: not an answer)
//
// Operations: connect, send (packet as "hex" or "base64"; the reply comes in the same form),
// disconnect, channels (this client's open channels), link (is the link up).
// Errors: {"id":..,"ok":false,"error":CODE,"message":TEXT}.
// DecodeRequest is a pure function of the line: no state, no I/O.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "host/PacketText.h"

namespace vantrel::gate {

// Longest request line; a longer one is refused as a whole.
constexpr size_t kMaxLineBytes = 16384;
// Largest command packet: what one frame of the cable carries.
constexpr size_t kMaxPacketBytes = 2048;
// Server names travel with ".*" in a 16-byte field.
constexpr size_t kMaxServerName = 13;
// Longest string id echoed back.
constexpr size_t kMaxIdBytes = 64;

enum class Op { Connect, Send, Disconnect, Channels, Link };
enum class Encoding { Hex, Base64 };

// Error codes, the "error" field of a failed reply.
namespace error {
constexpr char kMalformed[] = "malformed";     // not a JSON object
constexpr char kBadRequest[] = "bad-request";  // a field missing or of the wrong kind
constexpr char kUnknownOp[] = "unknown-op";
constexpr char kTooLarge[] = "too-large";  // line or packet over the limit
constexpr char kNameTooLong[] = "name-too-long";
constexpr char kBadName[] = "bad-name";
constexpr char kNotYourChannel[] = "not-your-channel";
constexpr char kBusy[] = "busy";  // too many requests waiting
constexpr char kLinkDown[] = "link-down";
constexpr char kUnreachable[] = "unreachable";  // the server did not answer the connect
constexpr char kFailed[] = "failed";            // the command got no reply
constexpr char kNoGateway[] = "no-gateway";     // linkgate is not loaded or not started
constexpr char kRefused[] = "refused";          // the peer is not allowed in
constexpr char kTooManyClients[] = "too-many-clients";
}  // namespace error

// The request's id as JSON text, ready to be echoed ("null" when absent or unusable).
struct Request {
    std::string id = "null";
    Op op = Op::Link;
    std::string server;
    int64_t channel = 0;
    PacketBytes packet;
    Encoding encoding = Encoding::Hex;
};

struct Decoded {
    bool ok = false;
    Request request;        // when ok; otherwise request.id is still the best id found
    std::string errorCode;  // when not ok
    std::string errorText;
};

Decoded DecodeRequest(std::string_view line);

// Reply lines, each ending in "\n". `id` is JSON text as in Request::id.
std::string ErrorReply(const std::string& id, std::string_view code, std::string_view text);
std::string ConnectReply(const std::string& id, uint16_t channel, std::string_view server);
std::string SendReply(const std::string& id, const PacketBytes& reply, Encoding encoding);
std::string DisconnectReply(const std::string& id, uint16_t channel);
struct OpenChannel {
    uint16_t channel;
    std::string server;
};
std::string ChannelsReply(const std::string& id, const std::vector<OpenChannel>& channels);
std::string LinkReply(const std::string& id, bool up);
// Unasked: the link went down (closing these channels) or came up.
std::string LinkEvent(bool up, const std::vector<uint16_t>& closed);

}  // namespace vantrel::gate
