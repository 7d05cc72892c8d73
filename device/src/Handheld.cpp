#include "device/Handheld.h"

#include <mutex>
#include <set>

#include "FileService.h"
#include "LinkServer.h"
#include "NameRules.h"
#include "Series5Service.h"

namespace handheld {

namespace {

const char kFileServer[] = "SYS$RFSV";
const char kLinkServer[] = "LINK";
// Started only by a LINK register request.
const char kEchoServer[] = "ECHO";

class SimulatedHandheld : public Handheld {
public:
    explicit SimulatedHandheld(const HandheldOptions& options) : fOptions(options) {
        if (options.family == Family::Series3)
            fFileService = std::make_unique<FileService>(options.drives, options.relaxedNames);
    }

    Family GetFamily() const override { return fOptions.family; }

    bool HasServer(const std::string& server) override {
        if (NameRules::SameName(server, kFileServer) || NameRules::SameName(server, kLinkServer))
            return true;
        std::lock_guard<std::mutex> guard(fLock);
        return fStarted.count(Upper(server)) != 0;
    }

    std::unique_ptr<Session> Open(const std::string& server) override {
        if (!HasServer(server)) return nullptr;
        if (NameRules::SameName(server, kFileServer)) {
            if (fFileService) return fFileService->OpenSession();
            return MakeSeries5Session(fOptions.drives);
        }
        if (NameRules::SameName(server, kLinkServer))
            return MakeLinkSession([this](const std::string& name) { return Start(name); });
        return MakeEchoSession();
    }

    void LinkDropped() override {
        if (fFileService) fFileService->CloseEverything();
        std::lock_guard<std::mutex> guard(fLock);
        fStarted.clear();
    }

private:
    static std::string Upper(const std::string& name) { return NameRules(false).StoredName(name); }

    bool Start(const std::string& name) {
        if (NameRules::SameName(name, kFileServer) || NameRules::SameName(name, kLinkServer))
            return true;  // running already
        if (!NameRules::SameName(name, kEchoServer)) return false;
        std::lock_guard<std::mutex> guard(fLock);
        fStarted.insert(Upper(name));
        return true;
    }

    HandheldOptions fOptions;
    std::unique_ptr<FileService> fFileService;
    std::mutex fLock;
    std::set<std::string> fStarted;
};

}  // namespace

std::unique_ptr<Handheld> Handheld::Create(const HandheldOptions& options) {
    return std::make_unique<SimulatedHandheld>(options);
}

}  // namespace handheld
