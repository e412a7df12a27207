// Helpers shared by the reliability cases: other processes the tests start, waiting for
// conditions, counting text, and the fault engine's call trace.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "support/DefinitionSets.h"
#include "support/ServiceUnderTest.h"
#include "support/WinTestUtil.h"
#include "support/StartService.h"

namespace kv::reltest {

using test::Narrow;

inline int CountOf(const std::string& text, const std::string& needle) {
  int count = 0;
  for (std::size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size())) {
    ++count;
  }
  return count;
}

// Waiting for a condition, and asking for an update until one starts (support).
using test::RequestUpdate;
using test::WaitUntil;

inline bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// A program of the build's bin folder started in the background; killed if still running
// when the owner goes.
class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess() {
    if (process_ != nullptr) {
      if (::WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
        ::TerminateProcess(process_, 99);
        ::WaitForSingleObject(process_, 10000);
      }
      ::CloseHandle(process_);
    }
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // `program` without ".exe", e.g. L"kv_logwriter"; arguments quoted by the caller.
  bool Start(const std::wstring& program, const std::wstring& arguments) {
    std::wstring line = L"\"" + test::ProgramFolder() + L"\\" + program + L".exe\" " + arguments;
    std::vector<wchar_t> buffer(line.begin(), line.end());
    buffer.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!::kv::test::CreateProcessRetrying(buffer.data(), FALSE, 0, &startup, &info)) {
      return false;
    }
    ::CloseHandle(info.hThread);
    process_ = info.hProcess;
    return true;
  }
  bool Running() const { return process_ != nullptr && ::WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }
  // The exit code, or STILL_ACTIVE when it has not ended within `timeoutMs`.
  DWORD Wait(DWORD timeoutMs = 60000) const {
    DWORD code = STILL_ACTIVE;
    if (process_ != nullptr && ::WaitForSingleObject(process_, timeoutMs) == WAIT_OBJECT_0) {
      ::GetExitCodeProcess(process_, &code);
    }
    return code;
  }

 private:
  HANDLE process_ = nullptr;
};

// A named event the test owns (manual reset).
class NamedEvent {
 public:
  explicit NamedEvent(const std::wstring& name)
      : name_(name), handle_(::CreateEventW(nullptr, TRUE, FALSE, name.c_str())) {}
  ~NamedEvent() {
    if (handle_ != nullptr) ::CloseHandle(handle_);
  }
  NamedEvent(const NamedEvent&) = delete;
  NamedEvent& operator=(const NamedEvent&) = delete;
  const std::wstring& Name() const { return name_; }
  HANDLE Get() const { return handle_; }
  bool WaitSet(DWORD timeoutMs = 30000) const { return ::WaitForSingleObject(handle_, timeoutMs) == WAIT_OBJECT_0; }

 private:
  std::wstring name_;
  HANDLE handle_;
};

// The fault engine's trace file (one line per call) and how often `operation` is in it.
inline int TraceCalls(const std::wstring& traceFile, const std::string& operation) {
  const std::string trace = test::ReadFileBytes(traceFile);
  int count = 0;
  std::size_t begin = 0;
  while (begin < trace.size()) {
    std::size_t end = trace.find('\n', begin);
    if (end == std::string::npos) end = trace.size();
    if (trace.compare(begin, end - begin, operation) == 0) ++count;
    begin = end + 1;
  }
  return count;
}

// Built-in settings for a service copy that uses the fault engine beside it.
inline std::string FaultBuiltin() {
  return "[Setting]\r\nScanDll=FaultEngine.dll\r\nTimerElapse=1\r\nLogFolder=log\r\n"
         "[AntiVirus]\r\nDefDatFolder=defs\r\n";
}

// Built-in settings for a service copy that uses the reference engine beside it, with
// the key that signs the tests' sets.
inline std::string ReferenceBuiltin(unsigned copyDelayMs) {
  return "[Setting]\r\nScanDll=ScanEngine.dll\r\nTimerElapse=1\r\nLogFolder=log\r\n"
         "[AntiVirus]\r\nDefDatFolder=defs\r\n[ScanEngine]\r\nCopyDelayMs=" +
         std::to_string(copyDelayMs) + "\r\n" + test::TestKeyLine();
}

}  // namespace kv::reltest
