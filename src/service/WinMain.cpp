// Process entry of the service: a GUI-subsystem program without a window.
#include <windows.h>

#include <clocale>

#include "service/ProcessMitigations.h"
#include "service/ServiceHost.h"

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*commandLine*/, int /*show*/) {
  // Before anything loads: system libraries come from System32 only, never from the
  // program's folder or the current one.
  ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  kv::ApplyProcessMitigations();
  std::setlocale(LC_ALL, "");
  kv::ServiceHost host(kv::ServiceHost::SystemOperations());
  host.RunDispatcher();
  // Stopped was reported while the engine's shutdown still ran, stuck: the exit-time
  // clean-up would tear down what that thread uses. End as the service manager would.
  if (!host.ShutdownEnded()) ::TerminateProcess(::GetCurrentProcess(), 0);
  return 0;
}
