// Installs a program as a service in the service control manager for one test and
// removes it again; starts, controls and watches it.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "kernel/ScmHandle.h"

namespace kv::test {

class ServiceUnderTest {
 public:
  // Installs `binaryPath` as an own-process, demand-start service named `name`,
  // removing a leftover service of that name first.
  ServiceUnderTest(const std::wstring& name, const std::wstring& binaryPath);
  ~ServiceUnderTest();
  ServiceUnderTest(const ServiceUnderTest&) = delete;
  ServiceUnderTest& operator=(const ServiceUnderTest&) = delete;

  bool Installed() const { return service_.IsOpen(); }
  DWORD InstallError() const { return installError_; }

  bool Start();
  // Why the last Start failed (the system error), or 0.
  DWORD StartError() const { return startError_; }
  // Sends a control; false when the service control manager refused it.
  bool Control(DWORD code, SERVICE_STATUS* status = nullptr, DWORD* error = nullptr);
  SERVICE_STATUS Query() const;
  // The running service's process id, or 0.
  DWORD ProcessId() const;
  // Polls until the service reports `state`; false after `timeoutMs`.
  bool WaitForState(DWORD state, DWORD timeoutMs = 60000) const;
  // Stops the service if it runs and waits until it has stopped.
  bool StopAndWait(DWORD timeoutMs = 60000);

 private:
  ScmHandle manager_;
  ScmHandle service_;
  DWORD installError_ = 0;
  DWORD startError_ = 0;
  std::wstring name_;
};

// Polls `condition` every 20 ms until it holds or `timeoutMs` passed.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs = 60000);

// Sends update requests (control 200) until `accepted` shows that one started an update.
// An update that has written its last record may still be ending, and a request that
// meets it is refused by design; asking again is what an administrator would do.
bool RequestUpdate(ServiceUnderTest& service, const std::function<bool()>& accepted, DWORD timeoutMs = 60000);

// Runs a program to its end; returns its exit code, or STILL_ACTIVE after `timeoutMs`.
DWORD RunProgram(const std::wstring& commandLine, DWORD timeoutMs = 60000);

}  // namespace kv::test
