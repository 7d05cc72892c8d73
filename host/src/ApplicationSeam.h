// Seam for the host's application object (`be_app`, class DodedIVU): vantrel starts it once
// before the first link comes up and quits it once after the last link went down. Until the
// application kit is in, both calls do nothing.
#pragma once

namespace vantrel {

void StartApplication(int argc, char** argv);
void QuitApplication();

}  // namespace vantrel
