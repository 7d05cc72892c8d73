// Seam for the host's application object (`be_app`, class DodedIVU): vantrel starts it once
// before the first link comes up and quits it once after the last link went down. The
// application's message loop runs on a thread of its own.
#pragma once

namespace vantrel {

void StartApplication(int argc, char** argv);
void QuitApplication();

}  // namespace vantrel
