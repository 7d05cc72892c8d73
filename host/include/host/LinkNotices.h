// Ties the desktop notices to the host's link: every link up and down, whichever brought it
// (the simulated handheld, a serial line that comes and goes, a cut), gives its notice, with
// the family of the handheld actually at the other end.
//
//   vantrel::DesktopNotice notice(host.FamilyVersion());
//   vantrel::LinkNotices watch(host, notice);  // until it goes out of scope
#pragma once

#include "host/DesktopNotice.h"

namespace vantrel {

class HostLink;

class LinkNotices {
public:
    LinkNotices(HostLink& host, DesktopNotice& notice);
    ~LinkNotices();  // no notice is given for the link once this returns
    LinkNotices(const LinkNotices&) = delete;
    LinkNotices& operator=(const LinkNotices&) = delete;

private:
    HostLink& fHost;
    int fObserver;
};

}  // namespace vantrel
