// One service of the service control manager, opened by name, with what the benchmark
// asks of it: start, control, its status with the process id, and timed waits.
#pragma once

#include <windows.h>

#include <string>

namespace kv::bench {

class ScmService {
 public:
  explicit ScmService(const std::wstring& name);
  ~ScmService();
  ScmService(const ScmService&) = delete;
  ScmService& operator=(const ScmService&) = delete;

  bool Opened() const { return service_ != nullptr; }
  // `argument`, when given, reaches the service's entry as its first start argument.
  bool Start(const wchar_t* argument = nullptr);
  // False when the service control manager refused the control.
  bool Control(DWORD code);
  SERVICE_STATUS_PROCESS Status() const;
  // Polls every millisecond until the service reports `state`; false after `timeoutMs`.
  bool WaitForState(DWORD state, DWORD timeoutMs) const;

 private:
  SC_HANDLE manager_ = nullptr;
  SC_HANDLE service_ = nullptr;
};

}  // namespace kv::bench
