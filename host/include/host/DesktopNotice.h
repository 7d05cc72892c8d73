// Desktop notifications when the handheld comes and goes, saying where its drives are.
//
// They go to the freedesktop notification service on the user's session bus, and only when
// there is one: on a server, or for a system service, nothing is sent and nothing is printed.
// The notices of one link replace each other, so the desktop shows one notice that follows the
// link: connected, then each drive as it is mounted, then disconnected.
//
// Sending happens on a thread of its own, so a slow or absent notification service never holds
// up the link or a mount.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace vantrel {

struct NoticeText {
    std::string summary;
    std::string body;
};

// The texts, for a handheld of `family` (3 or less: Series 3) and the drives' mount points.
NoticeText ConnectedNotice(int family, const std::vector<std::string>& drives);
NoticeText DisconnectedNotice(int family, const std::vector<std::string>& drives);

class DesktopNotice {
public:
    explicit DesktopNotice(int family);
    ~DesktopNotice();  // sends what is waiting (at most a few seconds), then stops
    DesktopNotice(const DesktopNotice&) = delete;
    DesktopNotice& operator=(const DesktopNotice&) = delete;

    void LinkUp();
    // The same, for a handheld of `family` (the one at the end of a serial line, found only
    // when it answers).
    void LinkUp(int family);
    // A drive became a Linux mount at `where`.
    void DriveMounted(const std::string& where);
    // The link is down and its drives unmounted.
    void LinkDown();

    // Waits until every notice asked for so far was sent or given up.
    void Flush();
    // How many notices the notification service took.
    int Delivered() const;

private:
    struct State;
    std::unique_ptr<State> fState;
};

}  // namespace vantrel
