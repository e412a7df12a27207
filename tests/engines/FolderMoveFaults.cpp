// The folder renames of the reference engine for its test build, ScanEngineRenameFaults.dll:
// chosen attempts fail with a chosen code, as a file held open inside the folder makes
// them fail on Windows, and the pauses between attempts are counted instead of slept.
// Steered through the exported FailFolderRenames; an update runs on one thread at a time.
#include <windows.h>

#include "../../engines/ScanEngine/FolderMove.h"

namespace {

unsigned g_attempts = 0;  // renames tried since the last FailFolderRenames
unsigned g_firstFailing = 0;
unsigned g_failing = 0;
DWORD g_code = 0;
DWORD g_pausedMs = 0;

}  // namespace

namespace kv::refengine {

DWORD MoveFolderOnce(const std::wstring& from, const std::wstring& to) {
  const unsigned attempt = ++g_attempts;
  if (attempt >= g_firstFailing && attempt < g_firstFailing + g_failing) return g_code;
  if (::MoveFileExW(from.c_str(), to.c_str(), /*dwFlags=*/0)) return 0;
  return ::GetLastError();
}

void PauseBeforeRetry(DWORD ms) { g_pausedMs += ms; }

}  // namespace kv::refengine

// From now on, rename attempts first .. first + count - 1 (counted from 1) fail with `code`.
extern "C" __declspec(dllexport) void WINAPI FailFolderRenames(unsigned first, unsigned count, DWORD code) {
  g_attempts = 0;
  g_pausedMs = 0;
  g_firstFailing = first;
  g_failing = count;
  g_code = code;
}

// Rename attempts and milliseconds of pauses since the last FailFolderRenames.
extern "C" __declspec(dllexport) void WINAPI CountFolderRenames(unsigned* attempts, DWORD* pausedMs) {
  *attempts = g_attempts;
  *pausedMs = g_pausedMs;
}
