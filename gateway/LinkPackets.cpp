#include "LinkPackets.h"

#include <cstdio>
#include <cstring>

#include "platform/ByteOrder.h"

size_t BuildRegisterRequest(const char* name, uint16 check, uint8* out) {
    out[0] = LINK_REGISTER;
    WordToBytes(check, out + 1);
    size_t nameLength = strnlen(name, LINK_NAME_SIZE - 1);
    std::memcpy(out + 3, name, nameLength);
    out[3 + nameLength] = 0;
    return nameLength + 4;
}

void TraceRegisterReply(const uint8* reply, size_t size, uint16 sentCheck) {
    constexpr size_t kFieldsEnd = LINK_REPLY_STATUS + 2;
    if (size < kFieldsEnd) {
        printf("Register cmd reply too short (%d bytes)\n", static_cast<int>(size));
        return;
    }
    printf("Register cmd reply code %x check=%x, sent: %x\n", reply[0],
           BytesToUword(reply + LINK_REPLY_CHECK), sentCheck);
    // The name ends at its NUL, at the end of the reply or after 32 bytes, whichever is first.
    size_t available = size > LINK_REPLY_NAME ? size - LINK_REPLY_NAME : 0;
    if (available > LINK_NAME_SIZE) available = LINK_NAME_SIZE;
    const char* name = reinterpret_cast<const char*>(reply + LINK_REPLY_NAME);
    int nameLength = available > 0 ? static_cast<int>(strnlen(name, available)) : 0;
    printf("Register cmd returned status %x, name %.*s\n", BytesToUword(reply + LINK_REPLY_STATUS),
           nameLength, available > 0 ? name : "");
}
