// Owner of a module mapped for reading its resources only: no code of the file runs
// (no entry point, no TLS callbacks, no imports resolved), whatever file it is.
#pragma once

#include <windows.h>

#include <string>

namespace kv {

class DataModule {
 public:
  DataModule() = default;
  explicit DataModule(const std::wstring& path)
      : module_(::LoadLibraryExW(path.c_str(), /*hFile=*/nullptr, LOAD_LIBRARY_AS_DATAFILE)) {}
  ~DataModule() {
    if (module_ != nullptr) {
      // Closing must not overwrite the error a caller is about to report.
      const DWORD saved = ::GetLastError();
      ::FreeLibrary(module_);
      ::SetLastError(saved);
    }
  }
  DataModule(const DataModule&) = delete;
  DataModule& operator=(const DataModule&) = delete;

  HMODULE Get() const { return module_; }
  explicit operator bool() const { return module_ != nullptr; }

 private:
  HMODULE module_ = nullptr;
};

}  // namespace kv
