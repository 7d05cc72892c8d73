// ConnectHandler: chained into the host application, it answers 'link' with a messenger for
// the gateway looper and passes everything else on along the host's chain.
#pragma once

#include "kits/Handler.h"

#define CONNECT_HANDLER_NAME "Link Server Hnandler"

class ConnectHandler : public BHandler {
public:
    explicit ConnectHandler(const char* name);
    ~ConnectHandler() override;

    void MessageReceived(BMessage* message) override;
};
