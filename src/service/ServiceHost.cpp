#include "service/ServiceHost.h"

#include <algorithm>
#include <atomic>

#include "foundation/TickBudget.h"
#include "service/ServiceControl.h"
#include "service/UpdaterEngine.h"

namespace kv {

namespace {

// The dispatcher's entry points take no context, so they find the host through this
// pointer; the host lives as long as the dispatcher runs.
std::atomic<ServiceHost*> g_host{nullptr};

constexpr DWORD kStartWaitHint = 15000;
constexpr DWORD kServiceType = SERVICE_WIN32_OWN_PROCESS | SERVICE_WIN32_SHARE_PROCESS | SERVICE_INTERACTIVE_PROCESS;
constexpr DWORD kRunningControls = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SESSIONCHANGE;
static_assert(kStopBudgetMs == kFirstUpdateWaitMs + kSecondUpdateWaitMs, "the stop reports cover the engine's waits");

}  // namespace

ServiceHost::Operations ServiceHost::SystemOperations() {
  Operations ops;
  ops.registerHandler = [](const char* name, LPHANDLER_FUNCTION_EX handler) {
    return ::RegisterServiceCtrlHandlerExA(name, handler, /*lpContext=*/nullptr);
  };
  ops.setServiceStatus = [](SERVICE_STATUS_HANDLE handle, SERVICE_STATUS* status) {
    return ::SetServiceStatus(handle, status);
  };
  ops.initialize = InitializeService;
  ops.shutdown = ShutdownEngine;
  ops.updateNow = RequestUpdateNow;
  return ops;
}

ServiceHost::ServiceHost(Operations operations) : ops_(std::move(operations)) {}

ServiceHost::~ServiceHost() {
  // The stop thread reports stopped as its last act, so after the dispatcher has
  // returned this wait is short. A shutdown that never ended has already ended the
  // process (WinMain), so here it has ended or is at its end.
  WaitForStopThread(INFINITE);
  if (shutdownThread_.IsStarted()) ::WaitForSingleObject(shutdownThread_.Get(), INFINITE);
  ServiceHost* self = this;
  g_host.compare_exchange_strong(self, nullptr);
}

void ServiceHost::RunDispatcher() {
  g_host.store(this);
  char name[sizeof(kServiceName)];
  ::memcpy(name, kServiceName, sizeof(kServiceName));
  const SERVICE_TABLE_ENTRYA table[] = {{name, &ServiceHost::ServiceMainEntry}, {nullptr, nullptr}};
  ::StartServiceCtrlDispatcherA(table);
}

void WINAPI ServiceHost::ServiceMainEntry(DWORD /*argc*/, LPSTR* /*argv*/) {
  if (ServiceHost* host = g_host.load()) host->ServiceMain();
}

DWORD WINAPI ServiceHost::ControlEntry(DWORD control, DWORD /*eventType*/, LPVOID /*eventData*/,
                                       LPVOID /*context*/) {
  if (ServiceHost* host = g_host.load()) return host->HandleControl(control);
  return NO_ERROR;
}

void ServiceHost::ServiceMain() {
  const SERVICE_STATUS_HANDLE handle = ops_.registerHandler(kServiceName, &ServiceHost::ControlEntry);
  if (handle == nullptr) return;
  {
    CriticalSectionGuard guard(statusLock_);
    statusHandle_ = handle;
    status_ = SERVICE_STATUS{};
    status_.dwServiceType = kServiceType;
    stopBegun_ = false;
  }
  StartSequence();
}

void ServiceHost::StartSequence() {
  if (!ReportStatus(SERVICE_START_PENDING, NO_ERROR, kStartWaitHint)) {
    ReportStatus(SERVICE_STOPPED, NO_ERROR, 0);
    return;
  }
  if (ops_.initialize) ops_.initialize();
  if (!ReportStatus(SERVICE_RUNNING, NO_ERROR, 0)) StopSequence();
}

void ServiceHost::StopSequence() {
  {
    CriticalSectionGuard guard(statusLock_);
    stopBegun_ = true;
  }
  ReportStopProgress(::GetTickCount64());
  if (ops_.shutdown) ops_.shutdown();
  ReportStatus(SERVICE_STOPPED, NO_ERROR, 0);
}

void ServiceHost::ReportStopProgress(ULONGLONG begin) {
  // Until the next report, at least: a hint of 0 would tell the service control manager
  // that the stop is overdue.
  ReportStatus(SERVICE_STOP_PENDING, NO_ERROR, MillisecondsLeft(begin, ops_.stopBudgetMs) + ops_.stopProgressMs);
}

void ServiceHost::BeginStop() {
  {
    CriticalSectionGuard guard(statusLock_);
    if (stopBegun_) return;  // a stop already runs: it reports, this one changes nothing
    stopBegun_ = true;
    shutdownEnded_ = false;
  }
  const ULONGLONG begin = ::GetTickCount64();
  ReportStopProgress(begin);
  // A previous run's stop has reported stopped and its threads are at their end.
  WaitForStopThread(INFINITE);
  if (shutdownThread_.IsStarted()) ::WaitForSingleObject(shutdownThread_.Get(), INFINITE);
  (void)stopThread_.Close();  // Close always succeeds
  (void)shutdownThread_.Close();
  if (shutdownThread_.Start(&ServiceHost::ShutdownThreadMain, this).Failed()) {
    // Without a thread of its own the shutdown runs here, as long as it takes.
    if (ops_.shutdown) ops_.shutdown();
    EndStop(true);
    return;
  }
  // An idle shutdown ends within moments: the handler reports stopped itself. A report
  // from another thread would wait for the handler to return on some service managers,
  // and the stop would cost the whole answer time.
  if (::WaitForSingleObject(shutdownThread_.Get(), ops_.stopAnswerMs) != WAIT_TIMEOUT) {
    EndStop(true);
    return;
  }
  // A shutdown that waits for an update: the handler answers "stop pending" now, and a
  // stop thread reports progress until the shutdown ends.
  stopBegin_ = begin;
  if (stopThread_.Start(&ServiceHost::StopThreadMain, this).Failed()) RunStop();
}

DWORD WINAPI ServiceHost::StopThreadMain(void* host) {
  static_cast<ServiceHost*>(host)->RunStop();
  return 0;
}

DWORD WINAPI ServiceHost::ShutdownThreadMain(void* host) {
  ServiceHost& self = *static_cast<ServiceHost*>(host);
  if (self.ops_.shutdown) self.ops_.shutdown();
  return 0;
}

void ServiceHost::RunStop() {
  const ULONGLONG begin = stopBegin_;
  const ULONGLONG limit = static_cast<ULONGLONG>(ops_.stopBudgetMs) + ops_.stopGraceMs;
  for (;;) {
    const DWORD wait = ::WaitForSingleObject(shutdownThread_.Get(),
                                             std::min<DWORD>(ops_.stopProgressMs, MillisecondsLeft(begin, limit)));
    if (wait != WAIT_TIMEOUT) {
      EndStop(true);
      return;
    }
    // A shutdown past its bound and the grace after it is stuck in the engine: the
    // service reports stopped all the same, so that a stop always ends.
    if (MillisecondsLeft(begin, limit) == 0) {
      EndStop(false);
      return;
    }
    ReportStopProgress(begin);
  }
}

void ServiceHost::EndStop(bool shutdownEnded) {
  {
    CriticalSectionGuard guard(statusLock_);
    shutdownEnded_ = shutdownEnded;
  }
  ReportStatus(SERVICE_STOPPED, NO_ERROR, 0);
}

bool ServiceHost::WaitForStopThread(DWORD timeoutMs) {
  if (!stopThread_.IsStarted()) return true;
  return ::WaitForSingleObject(stopThread_.Get(), timeoutMs) != WAIT_TIMEOUT;
}

bool ServiceHost::ShutdownEnded() {
  CriticalSectionGuard guard(statusLock_);
  return shutdownEnded_;
}

SERVICE_STATUS ServiceHost::Status() {
  CriticalSectionGuard guard(statusLock_);
  return status_;
}

DWORD ServiceHost::HandleControl(DWORD control) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
      BeginStop();
      break;
    case kUpdateNowControl: {
      // Once a stop has begun the engine is being torn down on the stop thread.
      bool stopping = false;
      {
        CriticalSectionGuard guard(statusLock_);
        stopping = stopBegun_;
      }
      if (!stopping && ops_.updateNow) ops_.updateNow();
      break;
    }
    default: {  // session change, interrogation and every unknown code: say where we are
      CriticalSectionGuard guard(statusLock_);
      ReportStatusLocked(status_.dwCurrentState, NO_ERROR, status_.dwWaitHint);
      break;
    }
  }
  return NO_ERROR;
}

BOOL ServiceHost::ReportStatus(DWORD state, DWORD exitCode, DWORD waitHint) {
  CriticalSectionGuard guard(statusLock_);
  return ReportStatusLocked(state, exitCode, waitHint);
}

BOOL ServiceHost::ReportStatusLocked(DWORD state, DWORD exitCode, DWORD waitHint) {
  status_.dwControlsAccepted = state == SERVICE_START_PENDING ? 0 : kRunningControls;
  status_.dwCurrentState = state;
  status_.dwWin32ExitCode = exitCode;
  status_.dwWaitHint = waitHint;
  if (state == SERVICE_RUNNING || state == SERVICE_STOPPED) {
    status_.dwCheckPoint = 0;
  } else {
    status_.dwCheckPoint = checkpoint_++;
  }
  return ops_.setServiceStatus(statusHandle_, &status_);
}

}  // namespace kv
