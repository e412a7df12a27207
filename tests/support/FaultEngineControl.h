// Reaches the test controls of a fault-injecting engine DLL. Loading the DLL here pins
// it, so the service code under test and the test share one instance of its state.
#pragma once

#include <windows.h>

#include <string>

#include "foundation/ModuleHandle.h"

namespace kv::test {

class FaultEngineControl {
 public:
  // `dllName` is a file in the test program's folder, e.g. L"FaultEngine.dll".
  explicit FaultEngineControl(const std::wstring& dllName);
  FaultEngineControl(const FaultEngineControl&) = delete;
  FaultEngineControl& operator=(const FaultEngineControl&) = delete;

  const std::wstring& Path() const { return path_; }
  bool Loaded() const { return module_.IsOpen(); }
  void Reset() const;
  void Configure(const std::wstring& keyValueLines) const;
  long Calls(const std::wstring& operation) const;
  long LiveObjects() const;

 private:
  std::wstring path_;
  ModuleHandle module_;
};

}  // namespace kv::test
