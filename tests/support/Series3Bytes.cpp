#include "Series3Bytes.h"

#include <cstring>

#include "platform/ByteOrder.h"
#include "platform/Series3Wire.h"

Bytes Packet(uint16 opcode, const Bytes& payload) {
    return Concat({Word(opcode), Word(static_cast<uint16>(payload.size())), payload});
}

Bytes Reply(int16 status, const Bytes& data) {
    return Concat({Word(RFSV_REPLY_CODE), Word(static_cast<uint16>(2 + data.size())),
                   Word(static_cast<uint16>(status)), data});
}

Bytes Sealed(Bytes reply) {
    if (reply.size() >= 4) WordToBytes(static_cast<uint16>(reply.size() - 4), reply.data() + 2);
    return reply;
}

Bytes Entry(uint16 attributes, uint32 size, uint32 mtime, const char* name) {
    Bytes out(16, 0);
    WordToBytes(attributes, out.data() + 2);
    LongToBytes(size, out.data() + 4);
    LongToBytes(mtime, out.data() + 8);
    if (name != nullptr) {
        out.insert(out.end(), name, name + strlen(name));
        out.push_back(0);
    }
    return out;
}

Bytes DeviceInfoRequest(const std::string& device) {
    return Packet(FDEVICEINFO, PathBytes(device));
}

Bytes DeviceReadReply(const std::string& device) {
    Bytes data(RFSV_DEVICEREAD_NAME - RFSV_REPLY_DATA, 0x20);  // fields the client does not read
    return Reply(0, data + PathBytes(device));
}

Bytes DeviceInfoReply(const std::string& volume) {
    Bytes data(RFSV_INFO_VOLUME_NAME - RFSV_REPLY_DATA, 0);
    WordToBytes(0x0002, data.data() + RFSV_INFO_MEDIA - RFSV_REPLY_DATA);
    LongToBytes(0x40000, data.data() + RFSV_INFO_TOTAL - RFSV_REPLY_DATA);
    LongToBytes(0x20000, data.data() + RFSV_INFO_FREE - RFSV_REPLY_DATA);
    return Reply(0, data + PathBytes(volume));
}
