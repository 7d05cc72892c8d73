// A host started in-process over a temporary drive folder, without add-ons unless asked,
// and helpers to talk to it with raw port messages.
#pragma once

#include <memory>

#include "DeviceTestSupport.h"
#include "RawChannel.h"
#include "host/HostLink.h"
#include "platform/HostProtocol.h"

namespace hosttest {

using devtest::Payload;
using devtest::Status;
using devtest::TempFolder;
using handheld::Bytes;

// Short enough to keep tests quick, long enough for a sanitizer build on a busy machine.
constexpr bigtime_t kNoAnswer = 300000;
constexpr bigtime_t kAnswer = 5000000;

class HostTest : public ::testing::Test {
protected:
    void StartHost(vantrel::HostOptions options = {}) {
        if (options.drives.empty())
            options.drives.push_back(devtest::Drive('M', "INTERNAL", folder.Path()));
        options.traceInMemory = true;
        host = std::make_unique<vantrel::HostLink>(options);
        ASSERT_EQ(host->Start(), B_OK);
        ASSERT_EQ(host->LinkUp(), B_OK);
    }
    void TearDown() override { host.reset(); }

    Bytes Finfo(const std::string& path) { return Payload().Str(path).Packet(FINFO); }

    TempFolder folder;
    std::unique_ptr<vantrel::HostLink> host;
};

}  // namespace hosttest
