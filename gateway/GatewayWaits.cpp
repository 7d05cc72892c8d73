#include "GatewayWaits.h"

#include <atomic>

#include "platform/WaitSetting.h"

namespace {

const GatewayWaits kDefaults;
std::atomic<bigtime_t> connectWait{kDefaults.connect};
std::atomic<bigtime_t> linkConnectWait{kDefaults.linkConnect};
std::atomic<bigtime_t> replyWait{kDefaults.reply};

}  // namespace

GatewayWaits GatewayWaits::FromEnvironment() {
    GatewayWaits waits;
    waits.connect = wait_setting("TAVRO_GATE_CONNECT_MS", waits.connect);
    waits.linkConnect = wait_setting("TAVRO_GATE_LINK_CONNECT_MS", waits.linkConnect);
    waits.reply = wait_setting("TAVRO_GATE_REPLY_MS", waits.reply);
    return waits;
}

GatewayWaits CurrentGatewayWaits() {
    GatewayWaits waits;
    waits.connect = connectWait.load();
    waits.linkConnect = linkConnectWait.load();
    waits.reply = replyWait.load();
    return waits;
}

void SetGatewayWaits(const GatewayWaits& waits) {
    connectWait.store(waits.connect);
    linkConnectWait.store(waits.linkConnect);
    replyWait.store(waits.reply);
}
