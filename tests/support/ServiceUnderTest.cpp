#include "support/ServiceUnderTest.h"

#include <utility>
#include <vector>

#include "foundation/KernelHandle.h"
#include "support/StartService.h"

namespace kv::test {

namespace {

// The process a service runs in, opened for waiting; null when it runs in none.
HANDLE ServiceProcess(SC_HANDLE service) {
  SERVICE_STATUS_PROCESS status{};
  DWORD needed = 0;
  if (!::QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof(status),
                              &needed) ||
      status.dwProcessId == 0) {
    return nullptr;
  }
  return ::OpenProcess(SYNCHRONIZE, FALSE, status.dwProcessId);
}

// Deletes a service and waits until its process has ended and the name is free again: the
// next test installs a service of the same name, and one still on its way out would make
// that start fail.
void DeleteAndWait(SC_HANDLE manager, ScmHandle service, const std::wstring& name) {
  const KernelHandle process(ServiceProcess(service.Get()));
  ::DeleteService(service.Get());
  service.Reset();
  if (process.IsOpen()) ::WaitForSingleObject(process.Get(), 30000);
  for (int i = 0; i < 500; ++i) {
    // Closed at once: an open handle keeps a deleted service's name taken.
    if (!ScmHandle(::OpenServiceW(manager, name.c_str(), SERVICE_QUERY_STATUS)).IsOpen()) return;
    ::Sleep(20);
  }
}

void RemoveService(SC_HANDLE manager, const std::wstring& name) {
  ScmHandle old(::OpenServiceW(manager, name.c_str(), SERVICE_ALL_ACCESS));
  if (!old.IsOpen()) return;
  SERVICE_STATUS status{};
  if (::ControlService(old.Get(), SERVICE_CONTROL_STOP, &status)) {
    for (int i = 0; i < 600 && ::QueryServiceStatus(old.Get(), &status) && status.dwCurrentState != SERVICE_STOPPED;
         ++i) {
      ::Sleep(50);
    }
  }
  DeleteAndWait(manager, std::move(old), name);
}

}  // namespace

ServiceUnderTest::ServiceUnderTest(const std::wstring& name, const std::wstring& binaryPath) : name_(name) {
  manager_.Reset(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager_.IsOpen()) {
    installError_ = ::GetLastError();
    return;
  }
  RemoveService(manager_.Get(), name);
  const std::wstring quoted = L"\"" + binaryPath + L"\"";
  service_.Reset(::CreateServiceW(manager_.Get(), name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
                                  SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, quoted.c_str(),
                                  /*lpLoadOrderGroup=*/nullptr, /*lpdwTagId=*/nullptr, /*lpDependencies=*/nullptr,
                                  /*lpServiceStartName=*/nullptr, /*lpPassword=*/nullptr));
  if (!service_.IsOpen()) installError_ = ::GetLastError();
}

ServiceUnderTest::~ServiceUnderTest() {
  if (service_.IsOpen()) {
    StopAndWait();
    DeleteAndWait(manager_.Get(), std::move(service_), name_);
  }
}

bool ServiceUnderTest::Start() {
  startError_ = 0;
  if (service_.IsOpen() && StartServiceRetrying(service_.Get())) return true;
  startError_ = service_.IsOpen() ? ::GetLastError() : installError_;
  return false;
}

bool ServiceUnderTest::Control(DWORD code, SERVICE_STATUS* status, DWORD* error) {
  SERVICE_STATUS local{};
  const BOOL ok = ::ControlService(service_.Get(), code, status ? status : &local);
  if (error) *error = ok ? 0 : ::GetLastError();
  return ok;
}

SERVICE_STATUS ServiceUnderTest::Query() const {
  SERVICE_STATUS status{};
  if (service_.IsOpen()) ::QueryServiceStatus(service_.Get(), &status);
  return status;
}

DWORD ServiceUnderTest::ProcessId() const {
  SERVICE_STATUS_PROCESS status{};
  DWORD needed = 0;
  if (!service_.IsOpen() || !::QueryServiceStatusEx(service_.Get(), SC_STATUS_PROCESS_INFO,
                                                    reinterpret_cast<BYTE*>(&status), sizeof status, &needed)) {
    return 0;
  }
  return status.dwProcessId;
}

bool ServiceUnderTest::WaitForState(DWORD state, DWORD timeoutMs) const {
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  do {
    if (Query().dwCurrentState == state) return true;
    ::Sleep(20);
  } while (::GetTickCount64() < deadline);
  return Query().dwCurrentState == state;
}

bool ServiceUnderTest::StopAndWait(DWORD timeoutMs) {
  // No control is accepted before the running report.
  if (Query().dwCurrentState == SERVICE_START_PENDING) WaitForState(SERVICE_RUNNING, timeoutMs);
  if (Query().dwCurrentState == SERVICE_STOPPED) return true;
  Control(SERVICE_CONTROL_STOP);
  return WaitForState(SERVICE_STOPPED, timeoutMs);
}

DWORD RunProgram(const std::wstring& commandLine, DWORD timeoutMs) {
  std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
  line.push_back(L'\0');
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!::kv::test::CreateProcessRetrying(line.data(), FALSE, 0, &startup, &process)) {
    return ::GetLastError() | 0x80000000u;
  }
  DWORD code = STILL_ACTIVE;
  if (::WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0) ::GetExitCodeProcess(process.hProcess, &code);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return code;
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  while (!condition()) {
    if (::GetTickCount64() > deadline) return condition();
    ::Sleep(20);
  }
  return true;
}

bool RequestUpdate(ServiceUnderTest& service, const std::function<bool()>& accepted, DWORD timeoutMs) {
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  do {
    if (!service.Control(200)) return false;
    if (WaitUntil(accepted, 1500)) return true;
  } while (::GetTickCount64() < deadline);
  return false;
}

}  // namespace kv::test
