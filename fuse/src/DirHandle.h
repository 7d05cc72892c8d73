// An open directory of a FUSE mount: the kernel descriptor and where the listing stands.
#pragma once

#include "kernel/fs_interface.h"

namespace fusebridge {

struct DirHandle {
    // -1 until the listing is first read: a listing the kernel kept needs no device open.
    int fd = -1;
    vnode_id vnid = 0;
    // Index of the entry the descriptor yields next; FUSE offsets are these indexes plus one.
    off_t position = 0;
    // An entry read from the descriptor that did not fit the last reply.
    bool pending = false;
    be_dirent entry{};
};

}  // namespace fusebridge
