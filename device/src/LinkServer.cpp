#include "LinkServer.h"

#include "WireFormat.h"
#include "device/DeviceProtocol.h"
#include "platform/Series3Wire.h"

namespace handheld {

namespace {

class LinkSession : public Session {
public:
    explicit LinkSession(StartServer start) : fStart(std::move(start)) {}

    bool Handle(const uint8* packet, size_t size, Bytes& reply) override {
        uint8 command = size >= 1 ? packet[0] : 0xFF;
        uint16 check = size >= 3 ? BytesToUword(packet + 1) : 0;
        std::string name;
        if (size > 3) {
            size_t end = 3;
            while (end < size && packet[end] != 0 && end - 3 < kLinkNameSize - 1) ++end;
            name.assign(reinterpret_cast<const char*>(packet + 3), end - 3);
        }
        int16 status;
        if (size < 4) {
            status = RFSV_BAD_ARGUMENT;
        } else if (command != kLinkRegister) {
            status = RFSV_NOT_SUPPORTED;
        } else if (name.empty()) {
            status = RFSV_BAD_NAME;
        } else {
            status = fStart(name) ? RFSV_OK : RFSV_NOT_FOUND;
        }
        reply.clear();
        reply.push_back(command);
        AppendWord(reply, check);
        AppendWord(reply, static_cast<uint16>(status));
        AppendWord(reply, 0);
        AppendText(reply, name, kLinkNameSize);
        return true;
    }

private:
    StartServer fStart;
};

class EchoSession : public Session {
public:
    bool Handle(const uint8* packet, size_t size, Bytes& reply) override {
        reply.assign(packet, packet + size);
        return true;
    }
};

}  // namespace

std::unique_ptr<Session> MakeLinkSession(StartServer start) {
    return std::make_unique<LinkSession>(std::move(start));
}

std::unique_ptr<Session> MakeEchoSession() { return std::make_unique<EchoSession>(); }

}  // namespace handheld
