#include "service/ServiceControl.h"

namespace kv {

// No engine exists yet: start-up creates none, so stop and control 200 do nothing
// beyond the status reports the frame makes.
void InitializeService() {}

void ShutdownEngine() {}

void RequestUpdateNow() {}

}  // namespace kv
