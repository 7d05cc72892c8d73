// The drive list and volume requests of the Series 5 file service.
#include <cctype>

#include "HostFolders.h"
#include "Series5Names.h"
#include "Series5Session.h"
#include "platform/Series5Wire.h"

namespace handheld {

using namespace epoc;

const DriveSetup* Series5Session::FindDrive(char letter) const {
    for (const DriveSetup& drive : fDrives)
        if (toupper(static_cast<unsigned char>(drive.letter)) ==
            toupper(static_cast<unsigned char>(letter)))
            return &drive;
    return nullptr;
}

int32 Series5Session::DriveList(Bytes& data) const {
    for (size_t i = 0; i < kDriveCount; ++i)
        data.push_back(FindDrive(static_cast<char>('A' + i)) != nullptr ? 1 : 0);
    return kOk;
}

int32 Series5Session::DriveInfo(PayloadReader& in, Bytes& data) const {
    uint32 index;
    if (!in.ReadLong(index) || index >= kDriveCount) return kNotReady;
    const DriveSetup* drive = FindDrive(static_cast<char>('A' + index));
    if (drive == nullptr) return kNotReady;
    AppendLong(data, drive->ReportedMediaType());
    AppendLong(data, 0);                            // battery
    AppendLong(data, drive->IsReadOnly() ? 1 : 0);  // drive attributes
    AppendLong(data, drive->IsReadOnly() ? 4 : 0);  // media attributes: write-protected
    AppendLong(data, 0x5EED0000u | static_cast<uint8>(drive->letter));
    AppendLong(data, drive->capacity);
    AppendLong(data, 0);
    AppendLong(data, FreeBytes(*drive));
    AppendLong(data, 0);
    std::string label;
    if (!Series5WireName(drive->volumeName, label)) label = drive->volumeName;
    AppendLong(data, static_cast<uint32>(label.size()));
    data.insert(data.end(), label.begin(), label.end());
    return kOk;
}

}  // namespace handheld
