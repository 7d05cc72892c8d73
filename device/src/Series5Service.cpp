#include "Series5Service.h"

#include <cctype>

#include "DriveStore.h"
#include "WireFormat.h"
#include "device/DeviceProtocol.h"

namespace handheld {

namespace {

class Series5Session : public Session {
public:
    explicit Series5Session(const std::vector<DriveSetup>& drives) : fDrives(drives) {}

    bool Handle(const uint8* packet, size_t size, Bytes& reply) override {
        uint16 request = size >= 2 ? BytesToUword(packet) : 0;
        uint16 operation = size >= 4 ? BytesToUword(packet + 2) : 0;
        reply.clear();
        AppendWord(reply, kSeries5ResponseCode);
        AppendWord(reply, operation);
        if (size >= 4 && request == kEpocDriveList) {
            AppendLong(reply, 0);
            for (size_t i = 0; i < kEpocDriveCount; ++i)
                reply.push_back(FindDrive(static_cast<uint32>(i)) != nullptr ? 1 : 0);
            return true;
        }
        if (size >= 8 && request == kEpocDriveInfo) {
            const DriveSetup* drive = FindDrive(BytesToUlong(packet + 4));
            if (drive == nullptr) {
                AppendLong(reply, static_cast<uint32>(kEpocNotReady));
                return true;
            }
            NameRules rules(true);
            DriveStore store(*drive, rules);
            AppendLong(reply, 0);                            // status
            AppendLong(reply, drive->ReportedMediaType());   // 8: media type
            AppendLong(reply, 0);                            // 12: battery
            AppendLong(reply, drive->IsReadOnly() ? 1 : 0);  // 16: drive attributes
            AppendLong(reply, drive->IsReadOnly() ? 4 : 0);  // 20: media attributes
            AppendLong(reply, 0x5EED0000u | static_cast<uint8>(drive->letter));  // 24: unique id
            AppendLong(reply, drive->capacity);  // 28: size, low and high word
            AppendLong(reply, 0);
            AppendLong(reply, store.FreeBytes());  // 36: free, low and high word
            AppendLong(reply, 0);
            AppendLong(reply, static_cast<uint32>(drive->volumeName.size()));  // 44
            reply.insert(reply.end(), drive->volumeName.begin(), drive->volumeName.end());
            return true;
        }
        AppendLong(reply, static_cast<uint32>(kEpocNotSupported));
        return true;
    }

private:
    const DriveSetup* FindDrive(uint32 index) const {
        if (index >= kEpocDriveCount) return nullptr;
        char letter = static_cast<char>('A' + index);
        for (const DriveSetup& drive : fDrives)
            if (std::toupper(static_cast<unsigned char>(drive.letter)) == letter) return &drive;
        return nullptr;
    }

    std::vector<DriveSetup> fDrives;
};

}  // namespace

std::unique_ptr<Session> MakeSeries5Session(const std::vector<DriveSetup>& drives) {
    return std::make_unique<Series5Session>(drives);
}

}  // namespace handheld
