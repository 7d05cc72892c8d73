#include "ApplicationSeam.h"

namespace vantrel {

void StartApplication(int, char**) {}

void QuitApplication() {}

}  // namespace vantrel
