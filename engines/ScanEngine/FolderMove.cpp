#include "FolderMove.h"
#include "foundation/FileSystem.h"

namespace kv::refengine {

DWORD MoveFolderOnce(const std::wstring& from, const std::wstring& to) {
  const std::wstring source = LongPathForm(from, PathKind::Folder);
  if (::MoveFileExW(source.c_str(), LongPathForm(to, PathKind::Folder).c_str(), /*dwFlags=*/0)) return 0;
  return ::GetLastError();
}

void PauseBeforeRetry(DWORD ms) { ::Sleep(ms); }

}  // namespace kv::refengine
