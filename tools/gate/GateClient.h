// The client side of the gateway's door: one connection to vantrel, requests numbered in
// order, each answered before the next is sent; events that arrive meanwhile are kept.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace tavrogate {

class GateClient {
public:
    GateClient() = default;
    ~GateClient();
    GateClient(const GateClient&) = delete;
    GateClient& operator=(const GateClient&) = delete;

    // false with *error in words when nobody serves the path.
    bool Open(const std::string& path, std::string& error);
    // Sends the request (an "id" is added) and waits for its answer. false with *error when
    // the connection broke; an answer with "ok": false is still a true return.
    bool Ask(nlohmann::json request, nlohmann::json& reply, std::string& error);
    // Events that came in since the last call.
    std::vector<nlohmann::json> TakeEvents();

private:
    bool ReadLine(std::string& line, std::string& error);

    int fFd = -1;
    long fNextId = 1;
    std::string fBuffer;
    std::vector<nlohmann::json> fEvents;
};

}  // namespace tavrogate
