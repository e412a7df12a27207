#include "DefinitionSwap.h"

#include <windows.h>

#include "FileTransfer.h"
#include "foundation/ErrorCodes.h"

namespace kv::refengine {

namespace {

ResultChain RenameFolder(const std::wstring& from, const std::wstring& to) {
  if (!::MoveFileExW(from.c_str(), to.c_str(), /*dwFlags=*/0)) {
    return KV_MARK(ResultChain(err::ErrorSwapFilename) + LastErrorChain());
  }
  return {};
}

}  // namespace

DefinitionFolders DefinitionFolders::Beside(const std::wstring& current) {
  return {current, current + L".staging", current + L".backup", current + L".lock", current + L".highest"};
}

ResultChain RecoverFolders(const DefinitionFolders& folders) {
  if (FolderExists(folders.backup)) {
    if (!FolderExists(folders.current)) {
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
    if (hadCurrent) RenameFolder(folders.backup, folders.current);  // the next Recover retries if this fails
    return KV_MARK(moved);
  }
  // A backup that cannot be deleted now (a file held open) is deleted by the next Recover.
  RemoveFolderTree(folders.backup);
  return {};
}

}  // namespace kv::refengine
