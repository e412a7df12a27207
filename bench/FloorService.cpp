// The least a service can be: it registers, reports start-pending, running (accepting
// stop and session changes, as the real service does), and on a stop stop-pending and
// stopped. Like the real service it polls a timer-queue timer, every 30 s or every
// number of seconds given as its first start argument, with a callback that only reads
// the clock. Nothing else: no settings, no threads of its own. The benchmark measures
// the service against this program started the same way.
#include <windows.h>

#include <ctime>
#include <cwchar>

namespace {

wchar_t g_name[] = L"KvFloorService";
SERVICE_STATUS_HANDLE g_handle = nullptr;
SERVICE_STATUS g_status{};
DWORD g_checkpoint = 1;

constexpr DWORD kRunningControls = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SESSIONCHANGE;
constexpr DWORD kDefaultPollSeconds = 30;

HANDLE g_poll = nullptr;
volatile std::time_t g_lastPoll = 0;

VOID CALLBACK Poll(PVOID /*parameter*/, BOOLEAN /*timerOrWaitFired*/) { g_lastPoll = std::time(nullptr); }

void Report(DWORD state) {
  g_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  g_status.dwCurrentState = state;
  g_status.dwControlsAccepted = state == SERVICE_START_PENDING ? 0 : kRunningControls;
  g_status.dwWin32ExitCode = NO_ERROR;
  const bool settled = state == SERVICE_RUNNING || state == SERVICE_STOPPED;
  g_status.dwCheckPoint = settled ? 0 : g_checkpoint++;
  g_status.dwWaitHint = state == SERVICE_START_PENDING ? 15000 : 0;
  ::SetServiceStatus(g_handle, &g_status);
}

DWORD WINAPI Handler(DWORD control, DWORD /*eventType*/, LPVOID /*eventData*/, LPVOID /*context*/) {
  if (control == SERVICE_CONTROL_STOP) {
    Report(SERVICE_STOP_PENDING);
    if (g_poll != nullptr) ::DeleteTimerQueueTimer(nullptr, g_poll, INVALID_HANDLE_VALUE);
    g_poll = nullptr;
    Report(SERVICE_STOPPED);
  } else {
    Report(g_status.dwCurrentState);  // every other control: say where we are
  }
  return NO_ERROR;
}

void WINAPI ServiceMain(DWORD argc, LPWSTR* argv) {
  g_handle = ::RegisterServiceCtrlHandlerExW(g_name, &Handler, nullptr);
  if (g_handle == nullptr) return;
  Report(SERVICE_START_PENDING);
  DWORD seconds = argc > 1 ? static_cast<DWORD>(std::wcstoul(argv[1], nullptr, 10)) : 0;
  if (seconds == 0) seconds = kDefaultPollSeconds;
  ::CreateTimerQueueTimer(&g_poll, nullptr, &Poll, nullptr, seconds * 1000, seconds * 1000, WT_EXECUTEDEFAULT);
  Report(SERVICE_RUNNING);
}

}  // namespace

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*commandLine*/, int /*show*/) {
  const SERVICE_TABLE_ENTRYW table[] = {{g_name, &ServiceMain}, {nullptr, nullptr}};
  ::StartServiceCtrlDispatcherW(table);
  return 0;
}
