// A folder made the current folder for a scope, and the previous one restored after it.
// The service resolves relative paths from the current folder (its program's folder, or
// its engine's while that loads); kvtool does the same to read them as it does.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace kv::tool {

class CurrentFolderScope {
 public:
  explicit CurrentFolderScope(const std::wstring& folder) : saved_(32768) {
    savedLength_ = ::GetCurrentDirectoryW(static_cast<DWORD>(saved_.size()), saved_.data());
    ::SetCurrentDirectoryW(folder.c_str());
  }
  ~CurrentFolderScope() {
    if (savedLength_ > 0 && savedLength_ < saved_.size()) ::SetCurrentDirectoryW(saved_.data());
  }
  CurrentFolderScope(const CurrentFolderScope&) = delete;
  CurrentFolderScope& operator=(const CurrentFolderScope&) = delete;

 private:
  std::vector<wchar_t> saved_;
  DWORD savedLength_ = 0;
};

}  // namespace kv::tool
