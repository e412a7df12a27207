// The loaded scan-engine library with its three exports bound.
#pragma once

#include <windows.h>

#include <string>

#include "foundation/ModuleHandle.h"
#include "scan/ScanEngineContract.h"

namespace kv {

class ScanModule {
 public:
  ScanModule() = default;
  virtual ~ScanModule();
  ScanModule(const ScanModule&) = delete;
  ScanModule& operator=(const ScanModule&) = delete;

  // Loads the library at an absolute path and binds "CreateObject", "ReleaseObject" and
  // "ReadErrorTable"; either all are bound or nothing stays loaded.
  ErrorCode Load(const std::wstring& path);
  // InvalidObject without a library, InavlidDllFunction with an unbound export, else 0.
  ErrorCode Check() const;
  ErrorCode Unload();

  bool Loaded() const { return library_.IsOpen(); }
  CreateObjectFn createObject() const { return createObject_; }
  ReleaseObjectFn releaseObject() const { return releaseObject_; }
  ReadErrorTableFn readErrorTable() const { return readErrorTable_; }

 private:
  ModuleHandle library_;
  CreateObjectFn createObject_ = nullptr;
  ReleaseObjectFn releaseObject_ = nullptr;
  ReadErrorTableFn readErrorTable_ = nullptr;
};

}  // namespace kv
