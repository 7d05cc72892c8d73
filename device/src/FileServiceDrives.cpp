// The drives of the Series 3 file service: FDEVICEREAD over a device list and FDEVICEINFO.
#include "FileService.h"
#include "platform/Series3Wire.h"

namespace handheld {

void FileService::AppendDriveInfo(const DriveStore& drive, Bytes& data) const {
    AppendWord(data, 0);  // reply offset 6: version of the record
    AppendWord(data, drive.Setup().ReportedMediaType());
    AppendWord(data, 0);  // reply offset 10: battery status, good
    AppendLong(data, drive.Setup().capacity);
    AppendLong(data, drive.FreeBytes());
    AppendText(data, drive.Setup().volumeName, RFSV_INFO_VOLUME_NAME_SIZE);
}

int16 FileService::Fdeviceread(uint32, PayloadReader& in, Bytes& data) {
    uint16 handle;
    if (!in.ReadWord(handle)) return RFSV_BAD_ARGUMENT;
    Open* open = FindHandle(handle, Open::Kind::DeviceList);
    if (open == nullptr) return RFSV_BAD_HANDLE;
    if (open->next >= fDrives.size()) return RFSV_END_OF_FILE;
    const DriveStore& drive = *fDrives[open->next++];
    AppendDriveInfo(drive, data);
    AppendText(data, drive.DeviceName(), 4);
    return RFSV_OK;
}

int16 FileService::Fdeviceinfo(uint32, PayloadReader& in, Bytes& data) {
    NamedPath named;
    int16 status = ReadPath(in, named);
    if (status != RFSV_OK) return status;
    AppendDriveInfo(*named.drive, data);
    return RFSV_OK;
}

}  // namespace handheld
