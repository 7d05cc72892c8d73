#include "host/GateProtocol.h"

#include <nlohmann/json.hpp>

namespace vantrel::gate {

namespace {

using nlohmann::json;

// Never throws: text that is not valid UTF-8 is replaced rather than refused.
std::string Line(const json& value) {
    return value.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

json IdValue(const std::string& id) {
    json value = json::parse(id, nullptr, false);
    return value.is_discarded() ? json(nullptr) : value;
}

Decoded Fail(std::string id, const char* code, std::string text) {
    Decoded decoded;
    decoded.request.id = std::move(id);
    decoded.errorCode = code;
    decoded.errorText = std::move(text);
    return decoded;
}

// A string field, or null when absent or not a string.
const std::string* StringField(const json& object, const char* name) {
    auto it = object.find(name);
    if (it == object.end() || !it->is_string()) return nullptr;
    return &it->get_ref<const std::string&>();
}

bool ServerNameCharacter(char c) {
    // Printable ASCII; "." and "*" would change the pattern the name becomes on the wire.
    return c > 0x20 && c < 0x7F && c != '.' && c != '*';
}

}  // namespace

Decoded DecodeRequest(std::string_view line) {
    if (line.size() > kMaxLineBytes)
        return Fail("null", error::kTooLarge,
                    "request line longer than " + std::to_string(kMaxLineBytes) + " bytes");
    json object = json::parse(line.begin(), line.end(), nullptr, false);
    if (object.is_discarded()) return Fail("null", error::kMalformed, "not valid JSON");
    if (!object.is_object()) return Fail("null", error::kMalformed, "a request is a JSON object");

    std::string id = "null";
    auto idField = object.find("id");
    if (idField != object.end()) {
        bool usable = idField->is_number_integer() ||
                      (idField->is_string() &&
                       idField->get_ref<const std::string&>().size() <= kMaxIdBytes) ||
                      idField->is_null();
        if (!usable)
            return Fail("null", error::kBadRequest,
                        "\"id\" must be an integer or a string of at most " +
                            std::to_string(kMaxIdBytes) + " bytes");
        id = Line(*idField);
        id.pop_back();
    }

    const std::string* op = StringField(object, "op");
    if (op == nullptr) return Fail(id, error::kBadRequest, "\"op\" (a string) is missing");

    Decoded decoded;
    Request& request = decoded.request;
    request.id = id;
    auto needChannel = [&]() -> bool {
        auto it = object.find("channel");
        if (it == object.end() || !it->is_number_integer()) return false;
        // A channel that does not fit 16 bits, or 0, is no channel at all.
        if (it->is_number_unsigned()) {
            uint64_t value = it->get<uint64_t>();
            if (value < 1 || value > 0xFFFF) return false;
            request.channel = static_cast<int64_t>(value);
        } else {
            int64_t value = it->get<int64_t>();
            if (value < 1 || value > 0xFFFF) return false;
            request.channel = value;
        }
        return true;
    };
    const char* channelError = "\"channel\" must be a channel number from 1 to 65535";

    if (*op == "connect") {
        request.op = Op::Connect;
        const std::string* server = StringField(object, "server");
        if (server == nullptr)
            return Fail(id, error::kBadRequest, "\"server\" (a string) is missing");
        if (server->empty()) return Fail(id, error::kBadName, "the server name is empty");
        if (server->size() > kMaxServerName)
            return Fail(
                id, error::kNameTooLong,
                "server names have at most " + std::to_string(kMaxServerName) + " characters");
        for (char c : *server) {
            if (!ServerNameCharacter(c))
                return Fail(id, error::kBadName,
                            "server names are printable ASCII without blanks, \".\" or \"*\"");
        }
        request.server = *server;
    } else if (*op == "send") {
        request.op = Op::Send;
        if (!needChannel()) return Fail(id, error::kBadRequest, channelError);
        const std::string* hex = StringField(object, "hex");
        const std::string* base64 = StringField(object, "base64");
        if ((hex == nullptr) == (base64 == nullptr))
            return Fail(id, error::kBadRequest,
                        "the packet goes in exactly one of \"hex\" and \"base64\" (a string)");
        std::optional<PacketBytes> packet;
        if (hex != nullptr) {
            packet = FromHex(*hex);
            if (!packet) return Fail(id, error::kBadRequest, "\"hex\" is not hexadecimal bytes");
        } else {
            request.encoding = Encoding::Base64;
            packet = FromBase64(*base64);
            if (!packet) return Fail(id, error::kBadRequest, "\"base64\" is not valid base64");
        }
        if (packet->size() > kMaxPacketBytes)
            return Fail(id, error::kTooLarge,
                        "packets have at most " + std::to_string(kMaxPacketBytes) + " bytes");
        request.packet = std::move(*packet);
    } else if (*op == "disconnect") {
        request.op = Op::Disconnect;
        if (!needChannel()) return Fail(id, error::kBadRequest, channelError);
    } else if (*op == "channels") {
        request.op = Op::Channels;
    } else if (*op == "link") {
        request.op = Op::Link;
    } else {
        return Fail(id, error::kUnknownOp,
                    "unknown operation; known: connect, send, disconnect, channels, link");
    }
    decoded.ok = true;
    return decoded;
}

std::string ErrorReply(const std::string& id, std::string_view code, std::string_view text) {
    json reply = {{"id", IdValue(id)}, {"ok", false}, {"error", code}, {"message", text}};
    return Line(reply);
}

std::string ConnectReply(const std::string& id, uint16_t channel, std::string_view server) {
    return Line({{"id", IdValue(id)}, {"ok", true}, {"channel", channel}, {"server", server}});
}

std::string SendReply(const std::string& id, const PacketBytes& reply, Encoding encoding) {
    json line = {{"id", IdValue(id)}, {"ok", true}, {"size", reply.size()}};
    if (encoding == Encoding::Hex)
        line["hex"] = ToHex(reply);
    else
        line["base64"] = ToBase64(reply);
    return Line(line);
}

std::string DisconnectReply(const std::string& id, uint16_t channel) {
    return Line({{"id", IdValue(id)}, {"ok", true}, {"channel", channel}});
}

std::string ChannelsReply(const std::string& id, const std::vector<OpenChannel>& channels) {
    json list = json::array();
    for (const OpenChannel& open : channels)
        list.push_back({{"channel", open.channel}, {"server", open.server}});
    return Line({{"id", IdValue(id)}, {"ok", true}, {"channels", list}});
}

std::string LinkReply(const std::string& id, bool up) {
    return Line({{"id", IdValue(id)}, {"ok", true}, {"link", up ? "up" : "down"}});
}

std::string LinkEvent(bool up, const std::vector<uint16_t>& closed) {
    json event = {{"event", "link"}, {"state", up ? "up" : "down"}};
    if (!up) event["closed"] = closed;
    return Line(event);
}

}  // namespace vantrel::gate
