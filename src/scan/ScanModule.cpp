#include "scan/ScanModule.h"

#include "foundation/ErrorCodes.h"

namespace kv {

namespace {

// Only a full path names the library: a drive-rooted "X:\..." or a UNC "\\server\...".
// Anything else would let LoadLibrary search the current folder and PATH.
bool IsAbsolutePath(const std::wstring& path) {
  if (path.size() >= 3 && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/')) return true;
  return path.size() >= 3 && (path[0] == L'\\' || path[0] == L'/') && (path[1] == L'\\' || path[1] == L'/');
}

template <typename Fn>
Fn Bind(HMODULE library, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(library, name)));
}

}  // namespace

ScanModule::~ScanModule() { Unload(); }

ErrorCode ScanModule::Load(const std::wstring& path) {
  if (path.empty() || !IsAbsolutePath(path)) return err::InvalidPath;
  Unload();
  // The engine's own imports come from its folder or System32, nowhere else.
  library_.Reset(::LoadLibraryExW(path.c_str(), /*hFile=*/nullptr,
                                  LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32));
  if (!library_.IsOpen()) {
    const DWORD error = ::GetLastError();
    return error != 0 ? error : err::InvalidObject;
  }
  createObject_ = Bind<CreateObjectFn>(library_.Get(), "CreateObject");
  releaseObject_ = Bind<ReleaseObjectFn>(library_.Get(), "ReleaseObject");
  readErrorTable_ = Bind<ReadErrorTableFn>(library_.Get(), "ReadErrorTable");
  if (createObject_ == nullptr || releaseObject_ == nullptr || readErrorTable_ == nullptr) {
    Unload();
    return err::InavlidDllFunction;
  }
  return 0;
}

ErrorCode ScanModule::Check() const {
  if (!library_.IsOpen()) return err::InvalidObject;
  if (createObject_ == nullptr || releaseObject_ == nullptr || readErrorTable_ == nullptr) {
    return err::InavlidDllFunction;
  }
  return 0;
}

ErrorCode ScanModule::Unload() {
  library_.Reset();
  createObject_ = nullptr;
  releaseObject_ = nullptr;
  readErrorTable_ = nullptr;
  return 0;
}

}  // namespace kv
