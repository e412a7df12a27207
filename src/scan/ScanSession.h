// The one session with the scan engine: the loaded library, the engine object created
// through it, and the event that marks the end of an initialisation.
#pragma once

#include <string>

#include "scan/ScanModule.h"
#include "kernel/EventHolder.h"

namespace kv {

class ScanSession {
 public:
  ScanSession() = default;
  ~ScanSession();
  ScanSession(const ScanSession&) = delete;
  ScanSession& operator=(const ScanSession&) = delete;

  // Loads the library (unless one is loaded) and creates an engine object of interface
  // version 6. The working directory moves to the library's folder.
  ResultChain Open(const std::wstring& libraryPath);
  // Uninitialises and releases the engine, then frees the library. A failing
  // uninitialisation keeps both and returns the engine's codes.
  ResultChain Close();

  ResultChain ReadIniText(std::wstring& text);
  ResultChain CheckInitialized();
  // The result text is taken from the engine whether or not the update failed.
  ResultChain Update(const std::wstring& settings, std::wstring& result);
  // The result text changes only when the initialisation succeeded.
  ResultChain Initialize(const std::wstring& settings, std::wstring& result);

  EventHolder& InitEvent() { return initEvent_; }
  bool HasEngine() const { return engine_ != nullptr; }
  const ScanModule& Module() const { return module_; }

 private:
  void ResetInitEvent();
  void ReleaseEngine();

  ScanModule module_;
  ScanEngine* engine_ = nullptr;
  EventHolder initEvent_;
};

// Whether an update's chain leaves the published definitions in place: installed by it,
// or found already current.
bool DefinitionsCurrent(const ResultChain& update);

}  // namespace kv
