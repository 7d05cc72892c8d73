// How long the mount client waits for the device and between unmount passes. The defaults are
// the handheld's usual times; each can be changed for a run through the environment (whole
// milliseconds), which is how tests of a silent device avoid waiting real seconds:
//   TAVRO_MOUNT_REPLY_MS          a reply to any request, the connect answer too (10000)
//   TAVRO_MOUNT_DRIVE_INFO_MS     a Series 5 drive's information (1000)
//   TAVRO_MOUNT_UNMOUNT_PAUSE_MS  the first pause before a busy volume's next unmount pass;
//                                 each later pause is longer by as much (1000)
#pragma once

#include "platform/SupportDefs.h"
#include "platform/WaitSetting.h"

struct ClientWaits {
    bigtime_t reply = 10000000;
    bigtime_t driveInfo = 1000000;
    bigtime_t unmountPause = 1000000;

    static ClientWaits FromEnvironment() {
        ClientWaits waits;
        waits.reply = wait_setting("TAVRO_MOUNT_REPLY_MS", waits.reply);
        waits.driveInfo = wait_setting("TAVRO_MOUNT_DRIVE_INFO_MS", waits.driveInfo);
        waits.unmountPause = wait_setting("TAVRO_MOUNT_UNMOUNT_PAUSE_MS", waits.unmountPause);
        return waits;
    }
};
