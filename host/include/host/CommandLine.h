// vantrel's command line.
#pragma once

#include <string>

#include "host/HostOptions.h"

namespace vantrel {

enum class CommandLineResult { Run, Help, Error };

// Fills `options` from the arguments; on Error, `error` says what was wrong.
CommandLineResult ParseCommandLine(int argc, const char* const* argv, HostOptions& options,
                                   std::string& error);
// "M:INTERNAL=/folder[,capacity=SIZE][,media=N][,ro]"; SIZE may end in K or M.
bool ParseDriveSetup(const std::string& text, DriveSetup& drive, std::string& error);
std::string Usage();

}  // namespace vantrel
