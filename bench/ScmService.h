// One service of the service control manager, opened by name, with what the benchmark
// asks of it: start, control, its status with the process id, and timed waits.
#pragma once

#include <windows.h>

#include <string>

#include "kernel/ScmHandle.h"

namespace kv::bench {

class ScmService {
 public:
  explicit ScmService(const std::wstring& name);
  ScmService(const ScmService&) = delete;
  ScmService& operator=(const ScmService&) = delete;

  bool Opened() const { return service_.IsOpen(); }
  // `argument`, when given, reaches the service's entry as its first start argument.
  bool Start(const wchar_t* argument = nullptr);
  // False when the service control manager refused the control.
  bool Control(DWORD code);
  SERVICE_STATUS_PROCESS Status() const;
  // Polls every millisecond until the service reports `state`; false after `timeoutMs`.
  bool WaitForState(DWORD state, DWORD timeoutMs) const;

 private:
  // Declared first, so that it closes after the service handle opened through it.
  ScmHandle manager_;
  ScmHandle service_;
};

}  // namespace kv::bench
