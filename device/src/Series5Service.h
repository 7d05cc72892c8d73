// The part of a Series 5's remote file service that the desktop uses to find its drives:
// the drive list (0x13) and the drive information (0x14) requests.
#pragma once

#include <memory>
#include <vector>

#include "device/DriveSetup.h"
#include "device/Handheld.h"

namespace handheld {

std::unique_ptr<Session> MakeSeries5Session(const std::vector<DriveSetup>& drives);

}  // namespace handheld
