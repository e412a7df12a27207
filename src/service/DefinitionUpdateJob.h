// One run of the definition update, on the engine's update thread.
#pragma once

#include <windows.h>

#include <ctime>
#include <string>

#include "foundation/ResultChain.h"

namespace kv {

class AppContext;

class DefinitionUpdateJob {
 public:
  // The clean-up of superseded program folders: (program path, base name).
  using FolderCleanup = ResultChain (*)(const std::wstring& programPath, const std::wstring& baseName);

  // Hands the whole settings document to the scan engine, re-initialises the engine
  // when it asks for it, logs the result and rewrites "ScannerVersion.ini" when
  // definitions were installed or already current. Returns the engine's update chain,
  // or BreakInterrupt when the stop event was signalled before the engine was called
  // (checked before and after the clean-up, which tests may replace).
  static ResultChain Run(AppContext& context, std::clock_t start, FolderCleanup cleanup = nullptr);
};

// Thread procedure of an update thread (the parameter is the AppContext): 0 when the
// run succeeded, else ThUpdate.
DWORD WINAPI UpdateThreadMain(void* context);

}  // namespace kv
