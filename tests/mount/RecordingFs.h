// File-system tables registered as "tavro3" and "tavro5" that record every mount and unmount
// they receive. A volume is an empty directory; a mount can be made to fail by device name.
#pragma once

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "MountBlock.h"

// (device, mount point) pairs.
using Drives = std::vector<std::pair<std::string, std::string>>;

struct SeenMount {
    std::string fileSystem;
    mnt block;  // the bytes received, as received
    size_t length;
};

class RecordingFs {
public:
    RecordingFs();   // registers both tables
    ~RecordingFs();  // unregisters them

    // mount() of a block whose device is `device` answers `status`.
    void FailMount(const std::string& device, status_t status);

    std::vector<SeenMount> Mounts() const;
    // Device and mount point of each mount received, in order.
    Drives MountedDrives() const;
    // Device names of the unmounted volumes, in unmount order.
    std::vector<std::string> Unmounts() const;
    int LiveVolumes() const;
};
