// The Series 5 mount sequence: the drive list, each present drive's volume name, one mount
// per drive.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>

#include "RfsvClient.h"
#include "platform/ByteOrder.h"
#include "platform/Series5Wire.h"

namespace {

// A volume reply shorter than this is passed over (the label length bytes it lacks read as
// zero).
constexpr size_t kVolumeMinimum = 42;

}  // namespace

int RfsvClient::MountEPOC(mnt& block) {
    // Each drive's path is made in full by PlanMountPoint, which refuses what does not fit.
    strcpy(block.device, " :");

    uint8 request[8];
    uint8 reply[kEpocReplySize];
    WordToBytes(epoc::kDriveList, request);
    WordToBytes(opidc.fetch_add(1), request + 2);
    // Bytes the device did not send read as zero, never as an earlier reply's.
    memset(reply, 0, sizeof(reply));
    ssize_t read = Exchange(block, request, 4, reply, sizeof(reply), waits.reply);
    if (read >= static_cast<ssize_t>(epoc::kDriveListReplySize)) {
        uint8 present[epoc::kDriveCount];
        memcpy(present, reply + epoc::kHeaderSize, sizeof(present));
        WordToBytes(epoc::kVolume, request);
        for (uint32 index = 0; index < epoc::kDriveCount; index++) {
            if (present[index] == 0) {
                continue;
            }
            WordToBytes(opidc.fetch_add(1), request + 2);
            LongToBytes(index, request + 4);
            memset(reply, 0, sizeof(reply));
            read = Exchange(block, request, sizeof(request), reply, sizeof(reply), waits.driveInfo);
            if (read < static_cast<ssize_t>(kVolumeMinimum)) {
                continue;
            }
            block.device[0] = static_cast<char>('A' + index);
            // The name must lie within the bytes received; an empty one needs none.
            uint32 nameLength = BytesToUlong(reply + epoc::kVolumeLabelLength);
            if (nameLength > 0 && (nameLength > kEpocReplySize - epoc::kVolumeLabel ||
                                   epoc::kVolumeLabel + nameLength > static_cast<size_t>(read))) {
                printf("DEVICE %s volume name runs past the reply, drive skipped\n", block.device);
                continue;
            }
            char volume[kEpocReplySize];
            memcpy(volume, reply + epoc::kVolumeLabel, nameLength);
            volume[nameLength] = '\0';

            SetDebugFile(block);
            if (PlanMountPoint(block, volume) != B_OK) {
                continue;
            }
            MountRecord* record = AppendRecord(block);
            if (record == nullptr) {
                continue;
            }
            printf("DEVICE %s mounted to %s\n", record->block.device, record->block.path);
            record->madeMountPoint = mkdir(record->block.path, 0755) == 0;
        }
    }

    MountAll("tavro5");
    return B_OK;
}
