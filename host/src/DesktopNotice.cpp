#include "host/DesktopNotice.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#ifdef TAVRO_WITH_SDBUS
#include <systemd/sd-bus.h>
#endif

namespace vantrel {

namespace {

std::string Handheld(int family) { return family <= 3 ? "Psion Series 3" : "Psion Series 5"; }

std::string Lines(const std::vector<std::string>& drives) {
    std::string text;
    for (const std::string& where : drives) text += "\n" + where;
    return text;
}

// One request to the notification service.
struct Notice {
    NoticeText text;
    const char* category;  // freedesktop category hint
    bool newLink;          // starts a new notice instead of replacing the last one
};

#ifdef TAVRO_WITH_SDBUS
constexpr uint64_t kCallTimeoutUsec = 3 * 1000 * 1000;

// Sends one notice; the id the service gave it, or 0 when it was not taken.
uint32_t Send(sd_bus* bus, const Notice& notice, uint32_t replaces) {
    sd_bus_message* call = nullptr;
    sd_bus_message* reply = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    uint32_t id = 0;
    int r = sd_bus_message_new_method_call(bus, &call, "org.freedesktop.Notifications",
                                           "/org/freedesktop/Notifications",
                                           "org.freedesktop.Notifications", "Notify");
    if (r >= 0)
        r = sd_bus_message_append(call, "susssas", "vantrel", replaces, "drive-removable-media",
                                  notice.text.summary.c_str(), notice.text.body.c_str(), 0);
    if (r >= 0)
        r = sd_bus_message_append(call, "a{sv}", 2, "category", "s", notice.category,
                                  "desktop-entry", "s", "vantrel");
    if (r >= 0) r = sd_bus_message_append(call, "i", -1);
    if (r >= 0) r = sd_bus_call(bus, call, kCallTimeoutUsec, &error, &reply);
    if (r >= 0 && sd_bus_message_read(reply, "u", &id) < 0) id = 0;
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
    sd_bus_message_unref(call);
    return id;
}
#endif

}  // namespace

NoticeText ConnectedNotice(int family, const std::vector<std::string>& drives) {
    NoticeText text;
    text.summary = Handheld(family) + " connected";
    text.body = drives.empty() ? "Its drives are being mounted."
                               : (drives.size() == 1 ? "Its drive is at:" : "Its drives are at:") +
                                     Lines(drives);
    return text;
}

NoticeText DisconnectedNotice(int family, const std::vector<std::string>& drives) {
    NoticeText text;
    text.summary = Handheld(family) + " disconnected";
    text.body = drives.empty() ? "No drive was mounted."
                               : (drives.size() == 1 ? "Its drive is unmounted:"
                                                     : "Its drives are unmounted:") +
                                     Lines(drives);
    return text;
}

struct DesktopNotice::State {
    int family;
    std::mutex lock;
    std::condition_variable changed;
    std::deque<Notice> queue;
    bool sending = false;
    bool quit = false;
    int delivered = 0;
    bool linked = false;              // between LinkUp and LinkDown
    std::vector<std::string> drives;  // mounted during this link
    std::thread worker;

    void Push(Notice notice) {
        std::lock_guard<std::mutex> guard(lock);
        queue.push_back(std::move(notice));
        changed.notify_all();
    }

    void Run() {
#ifdef TAVRO_WITH_SDBUS
        sd_bus* bus = nullptr;
        bool tried = false;
        uint32_t last = 0;
#endif
        std::unique_lock<std::mutex> guard(lock);
        for (;;) {
            changed.wait(guard, [this] { return quit || !queue.empty(); });
            if (queue.empty()) break;
            Notice notice = std::move(queue.front());
            queue.pop_front();
            sending = true;
            guard.unlock();
            bool taken = false;
#ifdef TAVRO_WITH_SDBUS
            // Opened once, on first use: with no session bus (no DBUS_SESSION_BUS_ADDRESS and no
            // $XDG_RUNTIME_DIR/bus) there is nobody to tell, and every notice is dropped.
            if (!tried) {
                tried = true;
                if (sd_bus_open_user(&bus) < 0) bus = nullptr;
            }
            if (bus != nullptr) {
                uint32_t id = Send(bus, notice, notice.newLink ? 0 : last);
                if (id != 0) last = id;
                taken = id != 0;
            }
#endif
            guard.lock();
            sending = false;
            if (taken) ++delivered;
            changed.notify_all();
        }
#ifdef TAVRO_WITH_SDBUS
        if (bus != nullptr) sd_bus_flush_close_unref(bus);
#endif
    }
};

DesktopNotice::DesktopNotice(int family) : fState(new State) {
    fState->family = family;
    fState->worker = std::thread([this] { fState->Run(); });
}

DesktopNotice::~DesktopNotice() {
    {
        std::lock_guard<std::mutex> guard(fState->lock);
        fState->quit = true;
        fState->changed.notify_all();
    }
    fState->worker.join();
}

void DesktopNotice::LinkUp() {
    int family;
    {
        std::lock_guard<std::mutex> guard(fState->lock);
        family = fState->family;
    }
    LinkUp(family);
}

void DesktopNotice::LinkUp(int family) {
    std::vector<std::string> drives;
    {
        std::lock_guard<std::mutex> guard(fState->lock);
        fState->family = family;
        fState->linked = true;
        drives = fState->drives;
    }
    fState->Push({ConnectedNotice(family, drives), "device.added", true});
}

void DesktopNotice::DriveMounted(const std::string& where) {
    std::vector<std::string> drives;
    int family;
    {
        std::lock_guard<std::mutex> guard(fState->lock);
        auto& list = fState->drives;
        if (std::find(list.begin(), list.end(), where) == list.end()) list.push_back(where);
        // The mount client may mount before the host has told of the link; the connected
        // notice will list this drive.
        if (!fState->linked) return;
        drives = list;
        family = fState->family;
    }
    fState->Push({ConnectedNotice(family, drives), "device.added", false});
}

void DesktopNotice::LinkDown() {
    std::vector<std::string> drives;
    int family;
    {
        std::lock_guard<std::mutex> guard(fState->lock);
        // Called once the link-down has unmounted (or detached) every drive; nothing to say
        // when the link never came up.
        if (!fState->linked) return;
        drives.swap(fState->drives);
        fState->linked = false;
        family = fState->family;
    }
    fState->Push({DisconnectedNotice(family, drives), "device.removed", false});
}

void DesktopNotice::Flush() {
    std::unique_lock<std::mutex> guard(fState->lock);
    fState->changed.wait(guard, [this] { return fState->queue.empty() && !fState->sending; });
}

int DesktopNotice::Delivered() const {
    std::lock_guard<std::mutex> guard(fState->lock);
    return fState->delivered;
}

}  // namespace vantrel
