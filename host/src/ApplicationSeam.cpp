#include "ApplicationSeam.h"

#include "DodedIVU.h"

namespace vantrel {

namespace {

// be_app. Made and run once, before the first link, so that add-ons can chain handlers into
// it from their first RunClient on.
DodedIVU* application = nullptr;

}  // namespace

void StartApplication(int, char**) {
    if (application != nullptr) return;
    application = new DodedIVU();
    (void)application->Start();
}

void QuitApplication() {
    if (application == nullptr) return;
    application->Stop();
    delete application;
    application = nullptr;
}

}  // namespace vantrel
