#include "host/HostLink.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include "Router.h"
#include "host/InstallLayout.h"
#include "host/Settings.h"
#include "platform/HostProtocol.h"

namespace vantrel {

namespace {

// Capacity of "WritePsion": writers block while it is full.
constexpr int32 kRequestPortCapacity = 100;

struct ClientJob {
    const AddOn* addOn;
    int32 version;
};

status_t RunClientThread(void* data) {
    auto* job = static_cast<ClientJob*>(data);
    return job->addOn->RunClient(job->version);
}

}  // namespace

struct HostLink::State {
    std::mutex linkLock;  // held across the whole of LinkUp and LinkDown
    std::mutex stateLock;
    std::condition_variable downChanged;
    bool up = false;
    uint64 downs = 0;  // times the link has gone down
    bool started = false;
    port_id requestPort = B_BAD_PORT_ID;
    std::vector<thread_id> clientThreads;
    std::vector<thread_id> stopping;  // client threads told of the link-down, not yet ended
    bool cut = false;
    std::vector<std::unique_ptr<ClientJob>> jobs;
    std::thread cutThread;
    std::mutex observerLock;
    std::map<int, std::function<void(bool)>> observers;
    int nextObserver = 1;
};

HostLink::HostLink(HostOptions options)
    : fOptions(std::move(options)), fFaults(fOptions.faultSeed), fState(new State) {
    fFaults.Set(fOptions.faults);
}

HostLink::~HostLink() {
    LinkDown();
    std::thread cut;
    {
        std::lock_guard<std::mutex> guard(fState->stateLock);
        cut = std::move(fState->cutThread);
    }
    if (cut.joinable()) cut.join();
    fAddOns.clear();
}

status_t HostLink::Start() {
    if (fState->started) return B_OK;
    std::string traceFile = fOptions.traceFile;
    if (traceFile.empty()) {
        if (const char* env = getenv("VANTREL_TRACE")) traceFile = env;
    }
    if (!traceFile.empty() && !fTrace.SetFile(traceFile)) {
        // A folder, or a FIFO with or without a reader.
        bool special = errno == EINVAL || errno == EISDIR || errno == ENXIO;
        const char* why = errno == ELOOP ? "it is a symbolic link"
                          : special      ? "it is not a regular file"
                                         : strerror(errno);
        fprintf(stderr, "vantrel: cannot write the packet trace to %s: %s\n",
                Escape(traceFile).c_str(), why);
        return B_BAD_VALUE;
    }
    fTrace.KeepRecords(fOptions.traceInMemory);

    handheld::HandheldOptions device;
    device.family = fOptions.family;
    device.drives = fOptions.drives;
    device.relaxedNames = fOptions.relaxedNames;
    fDevice = handheld::Handheld::Create(device);

    std::vector<std::string> paths;
    if (!fOptions.addOnFolder.empty() && !ListAddOnFiles(fOptions.addOnFolder, &paths))
        fprintf(stderr, "vantrel: no add-on folder %s\n", fOptions.addOnFolder.c_str());
    paths.insert(paths.end(), fOptions.addOnFiles.begin(), fOptions.addOnFiles.end());
    for (const std::string& path : paths) {
        std::string error;
        std::unique_ptr<AddOn> addOn = AddOn::Load(path, error);
        if (!addOn) {
            fprintf(stderr, "vantrel: skipping add-on %s: %s\n", path.c_str(), error.c_str());
            continue;
        }
        addOn->Initialise();
        if (!fOptions.settingsFolder.empty() && HasSettings(*addOn)) {
            std::string file = Escape(SettingsFile(fOptions.settingsFolder, *addOn));
            std::vector<std::string> warnings;
            status_t loaded = LoadSettings(*addOn, fOptions.settingsFolder, &warnings);
            for (const std::string& warning : warnings)
                fprintf(stderr, "vantrel: %s %s\n", file.c_str(), warning.c_str());
            if (loaded != B_OK && loaded != B_ENTRY_NOT_FOUND)
                fprintf(stderr, "vantrel: cannot read %s: %s; %s runs with its defaults\n",
                        file.c_str(), be_strerror(loaded), addOn->Name().c_str());
        }
        if (!fOptions.mountRoot.empty()) SetConfiguredMountRoot(*addOn, fOptions.mountRoot);
        fAddOns.push_back(std::move(addOn));
    }
    fState->started = true;
    return B_OK;
}

status_t HostLink::LinkUp() {
    if (!fState->started) {
        status_t status = Start();
        if (status != B_OK) return status;
    }
    // A link cut by a fault finishes its link-down before the link comes up again.
    std::thread cut;
    {
        std::lock_guard<std::mutex> guard(fState->stateLock);
        cut = std::move(fState->cutThread);
    }
    if (cut.joinable()) cut.join();
    std::lock_guard<std::mutex> link(fState->linkLock);
    {
        std::lock_guard<std::mutex> guard(fState->stateLock);
        if (fState->up) return B_BUSY;
    }
    if (find_port(HOST_REQUEST_PORT_NAME) >= 0) return B_NAME_IN_USE;
    port_id port = create_port(kRequestPortCapacity, HOST_REQUEST_PORT_NAME);
    if (port < 0) return port;

    fRouter = std::make_unique<Router>(*this, port, *fDevice, fTrace, fFaults, fOptions.speed);
    fRouter->Start();
    {
        std::lock_guard<std::mutex> guard(fState->stateLock);
        fState->requestPort = port;
        fState->up = true;
        fState->cut = false;
    }
    for (const auto& addOn : fAddOns) {
        auto job = std::make_unique<ClientJob>(ClientJob{addOn.get(), FamilyVersion()});
        std::string name = "RunClient " + addOn->Name();
        name.resize(std::min<size_t>(name.size(), B_OS_NAME_LENGTH - 1));
        thread_id thread =
            spawn_thread(RunClientThread, name.c_str(), B_NORMAL_PRIORITY, job.get());
        if (thread < 0) {
            fprintf(stderr, "vantrel: cannot start %s: %s\n", addOn->Name().c_str(),
                    be_strerror(thread));
            continue;
        }
        fState->clientThreads.push_back(thread);
        fState->jobs.push_back(std::move(job));
        resume_thread(thread);
    }
    Tell(true);
    return B_OK;
}

status_t HostLink::LinkDown() {
    std::lock_guard<std::mutex> link(fState->linkLock);
    port_id port;
    {
        std::lock_guard<std::mutex> guard(fState->stateLock);
        if (!fState->up) return B_OK;
        port = fState->requestPort;
    }
    // Callers writing to the request port or waiting on their reply ports now see
    // B_BAD_PORT_ID, as they would when the cable is pulled.
    delete_port(port);
    if (fRouter) {
        fRouter->Join();
        fRouter->CloseConnections();
        fRouter.reset();
    }
    fDevice->LinkDropped();
    fTrace.Record(handheld::TraceDir::Drop, 0, handheld::TraceEvent::LinkDown, nullptr, 0);

    {
        std::lock_guard<std::mutex> guard(fState->stateLock);
        fState->stopping = fState->clientThreads;
    }
    for (thread_id thread : fState->clientThreads) send_data(thread, HOST_LINK_DOWN, nullptr, 0);
    for (thread_id thread : fState->clientThreads) {
        status_t exitValue;
        wait_for_thread(thread, &exitValue);
    }
    {
        std::lock_guard<std::mutex> guard(fState->stateLock);
        fState->stopping.clear();
    }
    fState->clientThreads.clear();
    fState->jobs.clear();
    {
        std::lock_guard<std::mutex> guard(fState->stateLock);
        fState->up = false;
        ++fState->downs;
        fState->requestPort = B_BAD_PORT_ID;
    }
    fState->downChanged.notify_all();
    Tell(false);
    return B_OK;
}

status_t HostLink::LinkDown(const BusyMounts& busy) {
    constexpr bigtime_t kTick = 200000;
    std::atomic<bool> down{false};
    status_t status = B_OK;
    std::thread linkDown([&] {
        status = LinkDown();
        down.store(true);
    });
    bool detached = false;
    bool told = false;
    auto detach = [&] {
        printf("vantrel: detaching the Linux mounts still in use\n");
        if (busy.detach) busy.detach();
        // The mount client retries in growing pauses: its next try need not wait.
        HurryLinkDown();
        detached = true;
    };
    for (bigtime_t waited = 0; !down.load(); waited += kTick) {
        if (!detached && (busy.detachAtOnce || waited >= busy.patience)) detach();
        timespec tick = {0, kTick * 1000};
        bool again = sigtimedwait(&busy.signals, nullptr, &tick) > 0;
        if (detached) continue;
        if (!told && waited >= busy.notice) {
            printf(
                "vantrel: waiting for programs to leave the mounts (Ctrl-C again to detach "
                "them)\n");
            told = true;
        }
        if (again) detach();
    }
    linkDown.join();
    return status;
}

void HostLink::HurryLinkDown() {
    std::lock_guard<std::mutex> guard(fState->stateLock);
    // Only into an empty queue: a full one means the thread has a message to read already, and
    // send_data would wait for it to do so.
    for (thread_id thread : fState->stopping) {
        if (!has_data(thread)) (void)send_data(thread, HOST_LINK_DOWN, nullptr, 0);
    }
}

bool HostLink::WasCut() const {
    std::lock_guard<std::mutex> guard(fState->stateLock);
    return fState->cut;
}

int HostLink::AddLinkObserver(std::function<void(bool up)> observer) {
    std::lock_guard<std::mutex> guard(fState->observerLock);
    int id = fState->nextObserver++;
    fState->observers[id] = std::move(observer);
    return id;
}

void HostLink::RemoveLinkObserver(int id) {
    std::lock_guard<std::mutex> guard(fState->observerLock);
    fState->observers.erase(id);
}

void HostLink::Tell(bool up) {
    std::lock_guard<std::mutex> guard(fState->observerLock);
    for (auto& [id, observer] : fState->observers) observer(up);
}

void HostLink::CutLinkFromRouter() {
    // The router cannot wait for itself; a helper thread takes the link down.
    std::lock_guard<std::mutex> guard(fState->stateLock);
    fState->cut = true;
    if (fState->cutThread.joinable()) return;
    fState->cutThread = std::thread([this] { LinkDown(); });
}

void HostLink::UseDevice(std::unique_ptr<handheld::Handheld> device, Family family) {
    std::lock_guard<std::mutex> link(fState->linkLock);
    fDevice = std::move(device);
    fOptions.family = family;
}

bool HostLink::IsLinkUp() const {
    std::lock_guard<std::mutex> guard(fState->stateLock);
    return fState->up;
}

bool HostLink::WaitForLinkDown(bigtime_t timeout) {
    std::unique_lock<std::mutex> lock(fState->stateLock);
    // A link that goes down and straight up again (a handheld that reconnects at once) may be up
    // again by the time this thread wakes: the count of downs still shows it went.
    const uint64 downs = fState->downs;
    return fState->downChanged.wait_for(lock, std::chrono::microseconds(timeout), [&] {
        return !fState->up || fState->downs != downs;
    });
}

port_id HostLink::RequestPort() const {
    std::lock_guard<std::mutex> guard(fState->stateLock);
    return fState->up ? fState->requestPort : B_BAD_PORT_ID;
}

size_t HostLink::OpenChannels() const {
    std::lock_guard<std::mutex> link(fState->linkLock);
    return fRouter ? fRouter->OpenChannels() : 0;
}

}  // namespace vantrel
