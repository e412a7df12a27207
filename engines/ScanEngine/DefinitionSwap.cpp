#include "DefinitionSwap.h"

#include <windows.h>

#include "EngineCodes.h"
#include "FileTransfer.h"
#include "FolderMove.h"
#include "foundation/ErrorCodes.h"

namespace kv::refengine {

namespace {

// A folder cannot be renamed while any process holds a file inside it without delete
// sharing: a scanner reading the definitions, a backup agent, an indexer, a virus
// scanner looking at the files just written. Such holds are usually short, so a rename
// refused for that reason is tried again, with growing pauses of 10 s in all.
constexpr DWORD kRetryPausesMs[] = {100, 200, 400, 800, 1500, 2000, 2500, 2500};

bool HeldOpen(DWORD code) { return code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION; }

ResultChain RenameFolder(const std::wstring& from, const std::wstring& to) {
  DWORD code = MoveFolderOnce(from, to);
  for (const DWORD pause : kRetryPausesMs) {
    if (!HeldOpen(code)) break;
    PauseBeforeRetry(pause);
    code = MoveFolderOnce(from, to);
  }
  if (code == 0) return {};
  const ResultChain cause = HeldOpen(code) ? ResultChain(DefinitionsInUse) + code : ResultChain(code);
  return KV_MARK(ResultChain(err::ErrorSwapFilename) + cause);
}

}  // namespace

DefinitionFolders DefinitionFolders::Beside(const std::wstring& current) {
  return {current, current + L".staging", current + L".backup", current + L".lock"};
}

ResultChain RecoverFolders(const DefinitionFolders& folders) {
  if (FolderExists(folders.backup)) {
    if (!FolderExists(folders.current)) {
      // The backup stays where it is when this fails, so the next update tries again.
      if (const ResultChain restored = RenameFolder(folders.backup, folders.current); restored.Failed()) {
        return KV_MARK(restored);
      }
    } else if (const ResultChain removed = RemoveFolderTree(folders.backup); removed.Failed()) {
      return KV_MARK(removed);
    }
  }
  if (const ResultChain removed = RemoveFolderTree(folders.staging); removed.Failed()) return KV_MARK(removed);
  return {};
}

ResultChain SwapInStaging(const DefinitionFolders& folders) {
  const bool hadCurrent = FolderExists(folders.current);
  if (hadCurrent) {
    if (const ResultChain moved = RenameFolder(folders.current, folders.backup); moved.Failed()) {
      return KV_MARK(moved);
    }
  }
  if (const ResultChain moved = RenameFolder(folders.staging, folders.current); moved.Failed()) {
    if (!hadCurrent) return KV_MARK(moved);
    // The previous set goes back now, not at the next update: until then the scanner
    // would find no definitions at all. Should that fail too, the backup is what the
    // next update's recovery puts back.
    if (const ResultChain restored = RenameFolder(folders.backup, folders.current); restored.Failed()) {
      return KV_MARK(moved + restored);
    }
    return KV_MARK(moved);
  }
  // A backup that cannot be deleted now (a file held open) is deleted by the next Recover.
  RemoveFolderTree(folders.backup);
  return {};
}

}  // namespace kv::refengine
