#include "LinkPackets.h"

#include <cstdio>
#include <cstring>

#include "platform/ByteOrder.h"

size_t BuildRegisterRequest(const char* name, uint16 check, uint8* out) {
    out[0] = kRegisterCommand;
    WordToBytes(check, out + 1);
    size_t nameLength = strnlen(name, 31);
    std::memcpy(out + 3, name, nameLength);
    out[3 + nameLength] = 0;
    return nameLength + 4;
}

void TraceRegisterReply(const uint8* reply, size_t size, uint16 sentCheck) {
    // Layout: code (1), check value (2), status (2), two bytes not looked at, then the name.
    constexpr size_t kFieldsEnd = 5;
    constexpr size_t kNameOffset = 7;
    constexpr size_t kNameMax = 32;
    if (size < kFieldsEnd) {
        printf("Register cmd reply too short (%d bytes)\n", static_cast<int>(size));
        return;
    }
    printf("Register cmd reply code %x check=%x, sent: %x\n", reply[0], BytesToUword(reply + 1),
           sentCheck);
    // The name ends at its NUL, at the end of the reply or after 32 bytes, whichever is first.
    size_t available = size > kNameOffset ? size - kNameOffset : 0;
    if (available > kNameMax) available = kNameMax;
    const char* name = reinterpret_cast<const char*>(reply + kNameOffset);
    int nameLength = available > 0 ? static_cast<int>(strnlen(name, available)) : 0;
    printf("Register cmd returned status %x, name %.*s\n", BytesToUword(reply + 3), nameLength,
           available > 0 ? name : "");
}
