// The mount table: the kernel's namespace is the set of mount points.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Volume.h"

namespace kernel {

// The volume with this id, while mounting, mounted or unmounting.
std::shared_ptr<Volume> VolumeById(nspace_id nsid);
// The volume whose mount point is the longest whole-component prefix of `components`;
// `consumed` receives the number of components the mount point takes.
std::shared_ptr<Volume> VolumeForPath(const std::vector<std::string>& components, size_t* consumed);
std::vector<std::shared_ptr<Volume>> AllVolumes();

}  // namespace kernel
