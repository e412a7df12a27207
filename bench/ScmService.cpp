#include "ScmService.h"

#include "support/StartService.h"

namespace kv::bench {

ScmService::ScmService(const std::wstring& name) : manager_(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT)) {
  if (manager_.IsOpen()) service_.Reset(::OpenServiceW(manager_.Get(), name.c_str(), SERVICE_ALL_ACCESS));
}

bool ScmService::Start(const wchar_t* argument) {
  if (!service_.IsOpen()) return false;
  LPCWSTR arguments[] = {argument};
  return kv::test::StartServiceRetrying(service_.Get(), argument != nullptr ? 1 : 0,
                                        argument != nullptr ? arguments : nullptr) != FALSE;
}

bool ScmService::Control(DWORD code) {
  SERVICE_STATUS status{};
  return service_.IsOpen() && ::ControlService(service_.Get(), code, &status);
}

SERVICE_STATUS_PROCESS ScmService::Status() const {
  SERVICE_STATUS_PROCESS status{};
  DWORD needed = 0;
  if (service_.IsOpen()) {
    ::QueryServiceStatusEx(service_.Get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof(status),
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
