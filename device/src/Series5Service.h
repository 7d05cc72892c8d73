// The Series 5 remote file service "SYS$RFSV": the drive list and volume requests the mount
// client uses, and the file requests of tavro5, over host folders (long, case-preserving
// names; the family's statuses). Each channel is a session with its own handles; closing the
// channel closes them.
#pragma once

#include <memory>
#include <vector>

#include "device/DriveSetup.h"
#include "device/Handheld.h"

namespace handheld {

std::unique_ptr<Session> MakeSeries5Session(const std::vector<DriveSetup>& drives);

}  // namespace handheld
