// Process entry of the service: a GUI-subsystem program without a window.
#include <windows.h>

#include <clocale>

#include "service/ServiceHost.h"

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*commandLine*/, int /*show*/) {
  std::setlocale(LC_ALL, "");
  kv::ServiceHost host(kv::ServiceHost::SystemOperations());
  host.RunDispatcher();
  return 0;
}
