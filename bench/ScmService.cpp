#include "ScmService.h"

#include "support/StartService.h"

namespace kv::bench {

ScmService::ScmService(const std::wstring& name) {
  manager_ = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (manager_ != nullptr) service_ = ::OpenServiceW(manager_, name.c_str(), SERVICE_ALL_ACCESS);
}

ScmService::~ScmService() {
  if (service_ != nullptr) ::CloseServiceHandle(service_);
  if (manager_ != nullptr) ::CloseServiceHandle(manager_);
}

bool ScmService::Start(const wchar_t* argument) {
  if (service_ == nullptr) return false;
  LPCWSTR arguments[] = {argument};
  return kv::test::StartServiceRetrying(service_, argument != nullptr ? 1 : 0, argument != nullptr ? arguments : nullptr) != FALSE;
}

bool ScmService::Control(DWORD code) {
  SERVICE_STATUS status{};
  return service_ != nullptr && ::ControlService(service_, code, &status);
}

SERVICE_STATUS_PROCESS ScmService::Status() const {
  SERVICE_STATUS_PROCESS status{};
  DWORD needed = 0;
  if (service_ != nullptr) {
    ::QueryServiceStatusEx(service_, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof(status),
                           &needed);
  }
  return status;
}

bool ScmService::WaitForState(DWORD state, DWORD timeoutMs) const {
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  for (;;) {
    if (Status().dwCurrentState == state) return true;
    if (::GetTickCount64() > deadline) return false;
    ::Sleep(1);
  }
}

}  // namespace kv::bench
