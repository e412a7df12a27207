// The process-wide context every thread of the service shares: the built-in settings
// and their lock, the scan session, the monthly log, the stop event, and what the
// scan-module loader learned (the engine's INI key and the library's path).
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

#include "config/IniDocument.h"
#include "foundation/PathName.h"
#include "foundation/ResultChain.h"
#include "log/MonthlyLog.h"
#include "scan/ScanSession.h"
#include "kernel/CriticalSection.h"
#include "kernel/HandleHolder.h"

namespace kv {

class AppContext {
 public:
  // The one context of the process, built from the program's embedded configuration
  // on the first call.
  static AppContext& Instance();

  // A context whose built-in settings are `builtinText` (tests build their own).
  explicit AppContext(const std::wstring& builtinText, LocalClock clock = {});
  ~AppContext() = default;
  AppContext(const AppContext&) = delete;
  AppContext& operator=(const AppContext&) = delete;

  // Copies the shared settings out, or replaces them, under the settings lock.
  ResultChain GetSettings(IniDocument& document);
  ResultChain SetSettings(const IniDocument& document);

  // Start-up configuration: creates the stop event, gives the log its folder
  // ("LogFolder" of section "Setting", default "log"), records each named object that
  // was refused as foreign, and stores the settings.
  ResultChain Configure(IniDocument& document);

  // Finds the library named by "ScanDll", merges its code names, opens the session and
  // keeps the engine's "IniKey".
  ResultChain LoadScanModule(IniDocument& settings);
  ResultChain UnloadScanModule();

  // Keeps the scan module loaded for the rest of the process: an update outlived the
  // stop's wait and still runs in the library. The process context is then not torn
  // down at exit either, since that update still uses it.
  void RetainScanModule() {
    moduleRetained_ = true;
    retained_ = true;
  }
  // Keeps only the context from being torn down at exit: a thread that outlived the
  // stop's wait still uses it, but no longer the library.
  void RetainContext() { retained_ = true; }
  bool Retained() const { return retained_; }

  MonthlyLog& Log() { return log_; }
  ScanSession& Session() { return session_; }
  // The stop event, or null before Configure created it.
  HANDLE StopEvent() const { return stopEvent_.Get(); }
  const std::wstring& IniKey() const { return iniKey_; }
  const PathName& ScanLibraryPath() const { return scanLibraryPath_; }

 private:
  // Declaration order is construction order; destruction runs in reverse.
  IniDocument settings_;
  HandleHolder stopEvent_{nullptr};
  ScanSession session_;
  std::wstring iniKey_;
  PathName scanLibraryPath_;
  CriticalSection settingsLock_;
  MonthlyLog log_;
  // The events as found when created: a result only when the name was taken by a
  // foreign object and the service uses an unnamed one of its own.
  ForeignObject foreignInitEvent_;
  ForeignObject foreignStopEvent_;
  std::atomic<bool> moduleRetained_{false};
  std::atomic<bool> retained_{false};
};

}  // namespace kv
