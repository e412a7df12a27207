#include "DefinitionSwap.h"

#include <windows.h>

#include <vector>

#include "FolderMove.h"
#include "StagingCopy.h"
#include "defset/DefinitionManifest.h"
#include "defset/EngineCodes.h"
#include "defset/FileTransfer.h"
#include "foundation/ErrorCodes.h"
#include "foundation/FileSystem.h"
#include "foundation/OwnFiles.h"

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

// The folder holds a set whose every file matches its manifest.
bool HoldsCompleteSet(const std::wstring& folder) {
  std::string bytes;
  DefinitionManifest manifest;
  return !LoadManifest(folder, bytes, manifest).Failed() && !VerifyDefinitionSet(folder, manifest).Failed();
}

// Copies the backup's set into a new current folder: a file held open without delete
// sharing can usually still be read. A copy that fails is removed again, so the backup
// stays the one place of the set; one cut short by a killed process is incomplete, and
// RecoverFolders then prefers the backup.
ResultChain CopyBackupIn(const DefinitionFolders& folders) {
  std::string bytes;
  DefinitionManifest manifest;
  KV_RETURN_IF_FAILED(LoadManifest(folders.backup, bytes, manifest));
  std::vector<ManifestFile> files = manifest.files;
  for (const wchar_t* name : {kSignatureName, kOriginName, kManifestName}) {
    if (PathExists(folders.backup + L"\\" + name)) {
      ManifestFile kin;
      kin.name = name;
      kin.size = UINT64_MAX;
      files.push_back(kin);
    }
  }
  if (ResultChain made = CreateOwnFolder(folders.current, Readers::Users, /*mustBeNew=*/true); made.Failed()) {
    return KV_MARK(ResultChain(err::CannotCreateFolder) + made);
  }
  for (const ManifestFile& file : files) {
    std::uint64_t copied = 0;
    Digest256 digest{};
    ResultChain chain = CopyToNewFile(folders.backup + L"\\" + file.name, folders.current + L"\\" + file.name,
                                      file.size, copied, &digest);
    if (!chain.Failed() && file.size != UINT64_MAX && (copied != file.size || digest != file.digest)) {
      chain = err::ErrorUncHashCompare;
    }
    if (chain.Failed()) {
      (void)RemoveFolderTree(folders.current);  // the copy's failure is the one reported
      return KV_MARK(chain);
    }
  }
  return {};
}

// Puts the previous set back as current: by renaming the backup, or, while a file in it
// stays held open, by copying it.
ResultChain PutBackupBack(const DefinitionFolders& folders) {
  const ResultChain renamed = RenameFolder(folders.backup, folders.current);
  if (!renamed.Failed()) return {};
  if (!renamed.Contains(DefinitionsInUse)) return KV_MARK(renamed);
  if (const ResultChain copied = CopyBackupIn(folders); copied.Failed()) return KV_MARK(renamed + copied);
  return {};
}

}  // namespace

DefinitionFolders DefinitionFolders::Beside(const std::wstring& current) {
  return {current, current + L".staging", current + L".backup", current + L".lock", current + L".highest",
          current + L".identities", current + L".partial"};
}

ResultChain RecoverFolders(const DefinitionFolders& folders) {
  if (FolderExists(folders.backup)) {
    if (FolderExists(folders.current) && !HoldsCompleteSet(folders.current) && HoldsCompleteSet(folders.backup)) {
      // A copy of the backup cut short: the backup is the set.
      KV_RETURN_IF_FAILED(RemoveFolderTree(folders.current));
    }
    // The backup stays where it is when this fails, so the next update tries again.
    if (!FolderExists(folders.current)) {
      KV_RETURN_IF_FAILED(PutBackupBack(folders));
    }
    // Beside a complete set; the swap needs its name free.
    KV_RETURN_IF_FAILED(RemoveFolderTree(folders.backup));
  }
  KV_RETURN_IF_FAILED(RemoveFolderTree(folders.staging));
  return {};
}

ResultChain SwapInStaging(const DefinitionFolders& folders) {
  const bool hadCurrent = FolderExists(folders.current);
  if (hadCurrent) {
    KV_RETURN_IF_FAILED(RenameFolder(folders.current, folders.backup));
  }
  if (const ResultChain moved = RenameFolder(folders.staging, folders.current); moved.Failed()) {
    if (!hadCurrent) return KV_MARK(moved);
    // The previous set goes back now, not at the next update: until then the scanner
    // would find no definitions at all. Should that fail too, the backup is what the
    // next update's recovery puts back.
    if (const ResultChain restored = PutBackupBack(folders); restored.Failed()) return KV_MARK(moved + restored);
    (void)RemoveFolderTree(folders.backup);  // left after a copy while held; the next Recover retries
    return KV_MARK(moved);
  }
  // A backup that cannot be deleted now (a file held open) is deleted by the next Recover.
  (void)RemoveFolderTree(folders.backup);
  return {};
}

}  // namespace kv::refengine
