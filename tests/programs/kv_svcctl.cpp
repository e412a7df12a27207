// Talks to the service control manager for the demo and by hand:
//   kv_svcctl NAME query | start | stop | control CODE | wait STATE_NUMBER
// Prints the service's status after each action, with the controls it accepts.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "support/StartService.h"

namespace {

const wchar_t* StateName(DWORD state) {
  switch (state) {
    case SERVICE_STOPPED: return L"STOPPED";
    case SERVICE_START_PENDING: return L"START_PENDING";
    case SERVICE_STOP_PENDING: return L"STOP_PENDING";
    case SERVICE_RUNNING: return L"RUNNING";
    default: return L"OTHER";
  }
}

void Print(const wchar_t* action, const SERVICE_STATUS& s) {
  std::wstring controls;
  if (s.dwControlsAccepted & SERVICE_ACCEPT_STOP) controls += L" STOP";
  if (s.dwControlsAccepted & SERVICE_ACCEPT_SESSIONCHANGE) controls += L" SESSIONCHANGE";
  std::wprintf(L"%-12ls state=%lu %-13ls controls=0x%lX%ls checkpoint=%lu wait_hint=%lu exit_code=%lu\n", action,
               s.dwCurrentState, StateName(s.dwCurrentState), s.dwControlsAccepted, controls.c_str(),
               s.dwCheckPoint, s.dwWaitHint, s.dwWin32ExitCode);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fwprintf(stderr, L"usage: kv_svcctl NAME query|start|stop|control CODE|wait STATE\n");
    return 2;
  }
  SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE service = manager ? ::OpenServiceW(manager, argv[1], SERVICE_ALL_ACCESS) : nullptr;
  if (service == nullptr) {
    std::fwprintf(stderr, L"cannot open service %ls: error %lu\n", argv[1], ::GetLastError());
    return 1;
  }
  const std::wstring action = argv[2];
  SERVICE_STATUS status{};
  BOOL ok = TRUE;
  if (action == L"start") {
    ok = kv::test::StartServiceRetrying(service);
    ::QueryServiceStatus(service, &status);
  } else if (action == L"stop") {
    ok = ::ControlService(service, SERVICE_CONTROL_STOP, &status);
  } else if (action == L"control" && argc > 3) {
    ok = ::ControlService(service, static_cast<DWORD>(std::wcstoul(argv[3], nullptr, 0)), &status);
  } else if (action == L"wait" && argc > 3) {
    const DWORD wanted = static_cast<DWORD>(std::wcstoul(argv[3], nullptr, 0));
    for (int i = 0; i < 1500 && ::QueryServiceStatus(service, &status) && status.dwCurrentState != wanted; ++i) {
      ::Sleep(20);
    }
    ok = status.dwCurrentState == wanted;
  } else {
    ok = ::QueryServiceStatus(service, &status);
  }
  const DWORD error = ok ? 0 : ::GetLastError();
  if (!ok) std::wprintf(L"%-12ls failed: error %lu\n", action.c_str(), error);
  Print(action.c_str(), status);
  ::CloseServiceHandle(service);
  ::CloseServiceHandle(manager);
  return ok ? 0 : 1;
}
