#include "host/LinkNotices.h"

#include "host/HostLink.h"

namespace vantrel {

LinkNotices::LinkNotices(HostLink& host, DesktopNotice& notice) : fHost(host) {
    // Told with the host's link lock held: the notice only queues its message. The link-down
    // comes once the client add-ons have unmounted every drive.
    fObserver = host.AddLinkObserver([&host, &notice](bool up) {
        if (up)
            notice.LinkUp(host.FamilyVersion());
        else
            notice.LinkDown();
    });
}

LinkNotices::~LinkNotices() { fHost.RemoveLinkObserver(fObserver); }

}  // namespace vantrel
