// The two calls of the swap that depend on other processes: one rename of a folder and
// the pause before it is tried again. They live alone in FolderMove.cpp so that a test
// build of the library can link another definition that fails chosen renames the way a
// file held open fails them on Windows (Wine renames such folders regardless).
#pragma once

#include <windows.h>

#include <string>

namespace kv::refengine {

// One attempt to rename the folder `from` to `to` (no replacing): 0, or the system's code.
DWORD MoveFolderOnce(const std::wstring& from, const std::wstring& to);

// Waits `ms` milliseconds before the next attempt.
void PauseBeforeRetry(DWORD ms);

}  // namespace kv::refengine
