// A bare client of the gateway door for tests: raw lines out, JSON lines in, every wait bounded.
#pragma once

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <nlohmann/json.hpp>
#include <string>

using nlohmann::json;

class DoorClient {
public:
    DoorClient() = default;
    explicit DoorClient(const std::string& path) { EXPECT_TRUE(Open(path)) << path; }
    ~DoorClient() { Close(); }
    DoorClient(const DoorClient&) = delete;
    DoorClient& operator=(const DoorClient&) = delete;

    bool Open(const std::string& path) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        fFd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        return fFd >= 0 &&
               connect(fFd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    }
    void Close() {
        if (fFd >= 0) close(fFd);
        fFd = -1;
    }
    int Fd() const { return fFd; }

    bool SendRaw(const std::string& text) {
        for (size_t sent = 0; sent < text.size();) {
            ssize_t n = send(fFd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) return false;
            sent += static_cast<size_t>(n);
        }
        return true;
    }
    bool Send(const json& request) { return SendRaw(request.dump() + "\n"); }

    // The next line, or "" when none came within `ms` or the door closed.
    std::string ReadLine(int ms = 20000) {
        for (;;) {
            size_t end = fBuffer.find('\n');
            if (end != std::string::npos) {
                std::string line = fBuffer.substr(0, end);
                fBuffer.erase(0, end + 1);
                return line;
            }
            pollfd fd{fFd, POLLIN, 0};
            if (poll(&fd, 1, ms) <= 0) return "";
            char chunk[4096];
            ssize_t got = recv(fFd, chunk, sizeof chunk, 0);
            if (got <= 0) return "";
            fBuffer.append(chunk, static_cast<size_t>(got));
        }
    }
    json Read(int ms = 20000) {
        std::string line = ReadLine(ms);
        json value = json::parse(line, nullptr, false);
        EXPECT_FALSE(value.is_discarded()) << "no JSON line from the door: '" << line << "'";
        return value.is_discarded() ? json() : value;
    }
    json Ask(const json& request) {
        EXPECT_TRUE(Send(request));
        return Read();
    }
    // True when the door closed the connection (within `ms`).
    bool ClosedByDoor(int ms = 20000) {
        for (;;) {
            pollfd fd{fFd, POLLIN, 0};
            if (poll(&fd, 1, ms) <= 0) return false;
            char chunk[4096];
            ssize_t got = recv(fFd, chunk, sizeof chunk, 0);
            if (got <= 0) return true;
        }
    }

private:
    int fFd = -1;
    std::string fBuffer;
};
