#include "GateClient.h"

#include <errno.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

namespace tavrogate {

using nlohmann::json;

GateClient::~GateClient() {
    if (fFd >= 0) close(fFd);
}

bool GateClient::Open(const std::string& path, std::string& error) {
    sockaddr_un address;
    memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        error = "the socket path is too long: " + path;
        return false;
    }
    memcpy(address.sun_path, path.c_str(), path.size());
    fFd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fFd < 0 || connect(fFd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        int why = errno;
        error = "cannot reach vantrel at " + path + ": " + strerror(why);
        if (why == ENOENT || why == ECONNREFUSED) error += " (is vantrel running?)";
        return false;
    }
    return true;
}

bool GateClient::ReadLine(std::string& line, std::string& error) {
    for (;;) {
        size_t end = fBuffer.find('\n');
        if (end != std::string::npos) {
            line = fBuffer.substr(0, end);
            fBuffer.erase(0, end + 1);
            return true;
        }
        char chunk[4096];
        ssize_t got = recv(fFd, chunk, sizeof chunk, 0);
        if (got > 0) {
            fBuffer.append(chunk, static_cast<size_t>(got));
        } else if (got < 0 && errno == EINTR) {
            continue;
        } else {
            error = got == 0 ? "vantrel closed the connection" : strerror(errno);
            return false;
        }
    }
}

bool GateClient::Ask(json request, json& reply, std::string& error) {
    long id = fNextId++;
    request["id"] = id;
    std::string line = request.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
    for (size_t sent = 0; sent < line.size();) {
        ssize_t n = send(fFd, line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) continue;
            error = std::string("cannot send to vantrel: ") + strerror(errno);
            return false;
        }
        sent += static_cast<size_t>(n);
    }
    for (;;) {
        std::string text;
        if (!ReadLine(text, error)) return false;
        json answer = json::parse(text, nullptr, false);
        if (!answer.is_object()) continue;
        if (answer.contains("event")) {
            fEvents.push_back(answer);
            continue;
        }
        auto it = answer.find("id");
        // A refusal at the door carries no id: it answers whatever was asked.
        if (it != answer.end() && (it->is_null() || (it->is_number_integer() && *it == id))) {
            reply = answer;
            return true;
        }
    }
}

std::vector<json> GateClient::TakeEvents() {
    std::vector<json> events;
    events.swap(fEvents);
    return events;
}

}  // namespace tavrogate
