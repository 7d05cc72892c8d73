// The device's "LINK" server. Its register request starts a server by name: servers that
// only run once asked for (the test server "ECHO") accept connects after it.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "device/Handheld.h"

namespace handheld {

// Starts the named server; returns false when the device has no server of that name.
using StartServer = std::function<bool(const std::string& name)>;

std::unique_ptr<Session> MakeLinkSession(StartServer start);
// A test server that sends every packet back unchanged.
std::unique_ptr<Session> MakeEchoSession();

}  // namespace handheld
