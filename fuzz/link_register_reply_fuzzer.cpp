// The gateway's trace of the LINK server's register reply, on replies of every size.
#include <cstdint>
#include <cstdio>
#include <vector>

#include "LinkPackets.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The trace goes to standard output; millions of lines would only slow the run.
    if (freopen("/dev/null", "w", stdout) == nullptr) return 0;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    uint16 check = static_cast<uint16>(data[0] | data[1] << 8);
    std::vector<uint8> reply(data + 2, data + size);
    if (reply.empty()) return 0;  // the gateway traces only replies with bytes in them
    TraceRegisterReply(reply.data(), reply.size(), check);
    return 0;
}
