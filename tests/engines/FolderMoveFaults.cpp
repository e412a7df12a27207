// The folder renames of ScanEngineRenameFaults.dll, the reference engine's test build:
// attempts first .. first + count - 1 since FailFolderRenames fail with its code, as a
// file held open inside makes them fail on Windows; pauses are added up, not slept.
#include <windows.h>

#include "../../engines/ScanEngine/FolderMove.h"

namespace {
unsigned g_attempts = 0, g_first = 0, g_count = 0;
DWORD g_code = 0, g_pausedMs = 0;
}  // namespace

namespace kv::refengine {

DWORD MoveFolderOnce(const std::wstring& from, const std::wstring& to) {
  const unsigned attempt = ++g_attempts;
  if (attempt >= g_first && attempt < g_first + g_count) return g_code;
  return ::MoveFileExW(from.c_str(), to.c_str(), /*dwFlags=*/0) ? 0 : ::GetLastError();
}

void PauseBeforeRetry(DWORD ms) { g_pausedMs += ms; }

}  // namespace kv::refengine

extern "C" __declspec(dllexport) void WINAPI FailFolderRenames(unsigned first, unsigned count, DWORD code) {
  g_attempts = g_pausedMs = 0;
  g_first = first;
  g_count = count;
  g_code = code;
}

extern "C" __declspec(dllexport) void WINAPI CountFolderRenames(unsigned* attempts, DWORD* pausedMs) {
  *attempts = g_attempts;
  *pausedMs = g_pausedMs;
}
