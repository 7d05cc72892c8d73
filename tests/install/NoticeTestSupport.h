// A private session bus for the notification tests, with a notification service of the
// test's own on it.
#pragma once

#include <signal.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace noticetest {

// A dbus-daemon --session of the test's own; its address, and it stops with the object.
class PrivateBus {
public:
    PrivateBus() {
        FILE* out = popen("dbus-daemon --session --fork --print-address=1 --print-pid=1", "r");
        if (out == nullptr) return;
        char line[512];
        if (fgets(line, sizeof(line), out) != nullptr) address = Trim(line);
        if (fgets(line, sizeof(line), out) != nullptr) pid = atoi(line);
        pclose(out);
    }
    ~PrivateBus() {
        if (pid > 0) kill(pid, SIGTERM);
    }
    std::string address;
    pid_t pid = -1;

private:
    static std::string Trim(std::string text) {
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        return text;
    }
};

struct Received {
    std::string app, icon, summary, body, category;
    uint32_t replaces = 0;
    int32_t timeout = 0;
};

// org.freedesktop.Notifications on the bus at `address`: records every Notify and answers
// with ids 1, 2, 3 ...
class FakeNotificationService {
public:
    explicit FakeNotificationService(const std::string& address) {
        if (sd_bus_new(&fBus) < 0) return;
        sd_bus_set_address(fBus, address.c_str());
        sd_bus_set_bus_client(fBus, 1);
        if (sd_bus_start(fBus) < 0) return;
        static const sd_bus_vtable table[] = {
            SD_BUS_VTABLE_START(0),
            SD_BUS_METHOD("Notify", "susssasa{sv}i", "u", Notify, SD_BUS_VTABLE_UNPRIVILEGED),
            SD_BUS_VTABLE_END};
        if (sd_bus_add_object_vtable(fBus, nullptr, "/org/freedesktop/Notifications",
                                     "org.freedesktop.Notifications", table, this) < 0)
            return;
        if (sd_bus_request_name(fBus, "org.freedesktop.Notifications", 0) < 0) return;
        ready = true;
        fThread = std::thread([this] {
            while (!fStop.load()) {
                int r = sd_bus_process(fBus, nullptr);
                if (r < 0) break;
                if (r == 0) sd_bus_wait(fBus, 50 * 1000);
            }
        });
    }
    ~FakeNotificationService() {
        fStop.store(true);
        if (fThread.joinable()) fThread.join();
        sd_bus_flush_close_unref(fBus);
    }
    std::vector<Received> Notices() {
        std::lock_guard<std::mutex> guard(fLock);
        return fNotices;
    }
    bool ready = false;

private:
    static int Notify(sd_bus_message* m, void* data, sd_bus_error*) {
        auto* self = static_cast<FakeNotificationService*>(data);
        Received got;
        const char *app, *icon, *summary, *body;
        int r = sd_bus_message_read(m, "susss", &app, &got.replaces, &icon, &summary, &body);
        if (r < 0) return r;
        got.app = app;
        got.icon = icon;
        got.summary = summary;
        got.body = body;
        if ((r = sd_bus_message_skip(m, "as")) < 0) return r;
        if ((r = sd_bus_message_enter_container(m, 'a', "{sv}")) < 0) return r;
        while (sd_bus_message_enter_container(m, 'e', "sv") > 0) {
            const char* key;
            if ((r = sd_bus_message_read(m, "s", &key)) < 0) return r;
            if (std::string(key) == "category") {
                const char* value;
                if ((r = sd_bus_message_read(m, "v", "s", &value)) < 0) return r;
                got.category = value;
            } else if ((r = sd_bus_message_skip(m, "v")) < 0) {
                return r;
            }
            sd_bus_message_exit_container(m);
        }
        sd_bus_message_exit_container(m);
        if ((r = sd_bus_message_read(m, "i", &got.timeout)) < 0) return r;
        uint32_t id;
        {
            std::lock_guard<std::mutex> guard(self->fLock);
            self->fNotices.push_back(got);
            id = static_cast<uint32_t>(self->fNotices.size());
        }
        return sd_bus_reply_method_return(m, "u", id);
    }
    sd_bus* fBus = nullptr;
    std::thread fThread;
    std::atomic<bool> fStop{false};
    std::mutex fLock;
    std::vector<Received> fNotices;
};

// Sets an environment variable for the length of a test.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : fName(name) {
        if (const char* old = getenv(name)) fOld = old, fHad = true;
        if (value != nullptr)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv() {
        if (fHad)
            setenv(fName.c_str(), fOld.c_str(), 1);
        else
            unsetenv(fName.c_str());
    }

private:
    std::string fName, fOld;
    bool fHad = false;
};

}  // namespace noticetest
