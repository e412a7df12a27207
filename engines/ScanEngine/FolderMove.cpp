#include "FolderMove.h"

namespace kv::refengine {

DWORD MoveFolderOnce(const std::wstring& from, const std::wstring& to) {
  if (::MoveFileExW(from.c_str(), to.c_str(), /*dwFlags=*/0)) return 0;
  return ::GetLastError();
}

void PauseBeforeRetry(DWORD ms) { ::Sleep(ms); }

}  // namespace kv::refengine
