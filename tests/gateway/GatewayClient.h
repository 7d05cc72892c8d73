// A client of the gateway's looper, as a program sees it: the requests by their codes, each
// sent and answered synchronously, and the fields of the answers.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "kits/Application.h"
#include "kits/Message.h"
#include "kits/Messenger.h"

namespace gate_client {

constexpr uint32 kLink = 'link', kConn = 'conn', kPcmd = 'pcmd', kDisc = 'disc', kData = 'data',
                 kEror = 'eror';

// Sends `request` to `to` and waits for its reply.
inline BMessage Ask(const BMessenger& to, BMessage request) {
    BMessage reply;
    EXPECT_EQ(to.SendMessage(&request, &reply), B_OK);
    return reply;
}

inline BMessage Connect(const BMessenger& gateway, const char* server) {
    BMessage request(kConn);
    request.AddString("server", server);
    return Ask(gateway, request);
}

inline BMessage Command(const BMessenger& gateway, const std::vector<uint8>& packet, port_id port,
                        int16 chan) {
    BMessage request(kPcmd);
    request.AddData("command", B_RAW_TYPE, packet.data(), static_cast<ssize_t>(packet.size()));
    request.AddInt32("port_id", port);
    request.AddInt16("chan_id", chan);
    return Ask(gateway, request);
}

// The connection a 'conn' reply names; a fatal failure if the reply is not one.
inline void ConnectionOf(const BMessage& reply, int32* port, int16* chan) {
    ASSERT_EQ(reply.what, kConn);
    ASSERT_EQ(reply.FindInt32("port_id", port), B_OK);
    ASSERT_EQ(reply.FindInt16("chan_id", chan), B_OK);
}

// The bytes a 'data' reply carries; a fatal failure if the reply is not one.
inline void DataOf(const BMessage& reply, std::vector<uint8>* data) {
    ASSERT_EQ(reply.what, kData);
    const void* bytes = nullptr;
    ssize_t size = -1;
    ASSERT_EQ(reply.FindData("data", B_RAW_TYPE, &bytes, &size), B_OK);
    ASSERT_GE(size, 0);
    const uint8* begin = static_cast<const uint8*>(bytes);
    data->assign(begin, begin + size);
}

// Asks the host application for the gateway: a 'link' request carrying the string field
// `field` = `value`, which the 'link' reply must carry back with the gateway's messenger.
inline void AskLink(const char* field, const char* value, BMessenger* gateway) {
    BMessage link(kLink), reply;
    link.AddString(field, value);
    ASSERT_EQ(be_app_messenger.SendMessage(&link, &reply), B_OK);
    ASSERT_EQ(reply.what, kLink);
    const char* echoed = nullptr;
    ASSERT_EQ(reply.FindString(field, &echoed), B_OK);
    EXPECT_STREQ(echoed, value);
    ASSERT_EQ(reply.FindMessenger("messenger", gateway), B_OK);
}

}  // namespace gate_client
