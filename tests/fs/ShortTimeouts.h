// Short time-outs for a mounted tavro3 volume, so that the model runs' lost replies cost little.
// The volume reads them only with its transport semaphore held, so they are changed under it:
// the Linux kernel may already be asking the volume something.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "kernel/syscalls.h"
#include "tavro.h"

inline void ShortenTimeouts(const std::string& where, bigtime_t timeout) {
    nspace_id nsid;
    ASSERT_EQ(kernel_volume_at(where.c_str(), &nsid, nullptr), B_OK);
    auto* vol = static_cast<volume*>(kernel_volume_cookie(nsid));
    ASSERT_NE(vol, nullptr);
    ASSERT_EQ(acquire_sem(vol->sem), B_OK);
    vol->sizeTimeout = timeout;
    vol->replyTimeout = timeout;
    release_sem(vol->sem);
}
