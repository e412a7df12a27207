#include "service/ServiceHost.h"

#include <atomic>

#include "service/ServiceControl.h"

namespace kv {

namespace {

// The dispatcher's entry points take no context, so they find the host through this
// pointer; the host lives as long as the dispatcher runs.
std::atomic<ServiceHost*> g_host{nullptr};

constexpr DWORD kStartWaitHint = 15000;
constexpr DWORD kServiceType = SERVICE_WIN32_OWN_PROCESS | SERVICE_WIN32_SHARE_PROCESS | SERVICE_INTERACTIVE_PROCESS;
constexpr DWORD kRunningControls = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SESSIONCHANGE;

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
  statusHandle_ = ops_.registerHandler(kServiceName, &ServiceHost::ControlEntry);
  if (statusHandle_ == nullptr) return;
  status_ = SERVICE_STATUS{};
  status_.dwServiceType = kServiceType;
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
  ReportStatus(SERVICE_STOP_PENDING, NO_ERROR, 0);
  if (ops_.shutdown) ops_.shutdown();
  ReportStatus(SERVICE_STOPPED, NO_ERROR, 0);
}

DWORD ServiceHost::HandleControl(DWORD control) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
      StopSequence();
      break;
    case kUpdateNowControl:
      if (ops_.updateNow) ops_.updateNow();
      break;
    default:  // session change, interrogation and every unknown code: say where we are
      ReportStatus(status_.dwCurrentState, NO_ERROR, 0);
      break;
  }
  return NO_ERROR;
}

BOOL ServiceHost::ReportStatus(DWORD state, DWORD exitCode, DWORD waitHint) {
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
