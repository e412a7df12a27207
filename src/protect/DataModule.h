// A module mapped for reading its resources only: no code of the file runs (no entry
// point, no TLS callbacks, no imports resolved), whatever file it is.
#pragma once

#include <windows.h>

#include <string>

#include "foundation/ModuleHandle.h"

namespace kv {

using DataModule = ModuleHandle;

// Empty, with the system's error as the last error, when the file cannot be mapped.
inline DataModule LoadDataModule(const std::wstring& path) {
  return DataModule(::LoadLibraryExW(path.c_str(), /*hFile=*/nullptr, LOAD_LIBRARY_AS_DATAFILE));
}

}  // namespace kv
