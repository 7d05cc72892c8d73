// The serial suites' fixture: a simulated handheld behind a pseudo-terminal and the host linked
// to it by the serial link. Torn down link first, then the host, then the handheld.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "device/LineHandheld.h"
#include "host/HostLink.h"
#include "host/SerialLink.h"

class SerialFixture : public ::testing::Test {
protected:
    void TearDown() override { Stop(); }

    // Starts the handheld on a pty of its own, then the host and its serial link (quiet) on
    // that pty; the link is not waited for.
    void StartLinked(handheld::LineHandheldOptions device, const vantrel::HostOptions& options,
                     vantrel::SerialLinkOptions serial) {
        std::string error;
        handheld = handheld::LineHandheld::OnPty(std::move(device), error);
        ASSERT_NE(handheld, nullptr) << error;
        serial.port = handheld->Path();
        StartLink(options, std::move(serial));
    }

    // Starts the host and its serial link (quiet) on `serial.port`.
    void StartLink(const vantrel::HostOptions& options, vantrel::SerialLinkOptions serial) {
        host = std::make_unique<vantrel::HostLink>(options);
        ASSERT_EQ(host->Start(), B_OK);
        serial.quiet = true;
        link = std::make_unique<vantrel::SerialLink>(*host, serial);
        std::string error;
        ASSERT_TRUE(link->OpenPort(error)) << error;
        link->Start();
    }

    void Stop() {
        link.reset();
        host.reset();
        handheld.reset();
    }

    std::unique_ptr<handheld::LineHandheld> handheld;
    std::unique_ptr<vantrel::HostLink> host;
    std::unique_ptr<vantrel::SerialLink> link;
};
