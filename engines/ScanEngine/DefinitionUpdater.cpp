#include "DefinitionUpdater.h"

#include "DefinitionSwap.h"
#include "EngineCodes.h"
#include "FileTransfer.h"
#include "StagingCopy.h"
#include "UpdateLock.h"
#include "config/IniText.h"
#include "foundation/ErrorCodes.h"

namespace kv::refengine {

namespace {

// A folder name is needed to place staging and backup beside it: a drive or share
// root has none.
bool HasFolderName(const std::wstring& path) {
  const std::size_t slash = path.find_last_of(L'\\');
  if (slash == std::wstring::npos || slash + 1 >= path.size()) return false;
  if (path.size() >= 2 && path[1] == L':' && path.find(L'\\') == std::wstring::npos) return false;
  // "\\server\share" is the root of a share.
  if (path.rfind(L"\\\\", 0) == 0 && path.find(L'\\', 2) == slash) return false;
  return true;
}

ResultChain CheckRequest(const UpdateRequest& request) {
  if (!IniCompare(request.updateType, kUpdateTypeUnc)) return KV_MARK(err::NotSupportUpdateProtocol);
  if (request.source.empty()) return KV_MARK(UpdateUncNotSet);
  if (request.destination.empty()) return KV_MARK(DefDatFolderNotSet);
  if (!HasFolderName(request.destination)) return KV_MARK(InvalidDefDatFolder);
  return {};
}

// The installed set when its manifest reads and every file matches it; otherwise an
// empty manifest, which makes any published set worth installing.
DefinitionManifest IntactInstalledSet(const std::wstring& current) {
  std::string bytes;
  DefinitionManifest installed;
  if (LoadManifest(current, bytes, installed).Failed()) return {};
  if (VerifyDefinitionSet(current, installed).Failed()) return {};
  return installed;
}

ResultChain ReadSource(const std::wstring& source, std::string& bytes, DefinitionManifest& manifest) {
  if (!FolderExists(source)) return KV_MARK(ResultChain(UncFolderNotFound) + LastErrorChain());
  if (const ResultChain loaded = LoadManifest(source, bytes, manifest); loaded.Failed()) return KV_MARK(loaded);
  return {};
}

ResultChain InstallSet(const std::wstring& source, const DefinitionManifest& manifest, const std::string& bytes,
                       const DefinitionFolders& folders, DWORD pauseMs) {
  if (const ResultChain staged = StageDefinitionSet(source, manifest, bytes, folders.staging, pauseMs);
      staged.Failed()) {
    return KV_MARK(staged + err::UpdateUncFolder);
  }
  if (const ResultChain verified = VerifyDefinitionSet(folders.staging, manifest); verified.Failed()) {
    return KV_MARK(verified + StepVerifyStagedSet);
  }
  if (const ResultChain swapped = SwapInStaging(folders); swapped.Failed()) return KV_MARK(swapped);
  return {};
}

}  // namespace

ResultChain RunDefinitionUpdate(const UpdateRequest& request, UpdateReport& report) {
  report = UpdateReport{};
  report.source = request.source;
  if (const ResultChain checked = CheckRequest(request); checked.Failed()) return KV_MARK(checked);
  const DefinitionFolders folders = DefinitionFolders::Beside(request.destination);

  UpdateLock lock;
  if (const ResultChain taken = lock.Take(folders.lock); taken.Failed()) {
    return KV_MARK(taken + StepTakeUpdateLock);
  }
  if (const ResultChain recovered = RecoverFolders(folders); recovered.Failed()) {
    return KV_MARK(recovered + StepRecoverFolders);
  }
  report.installed = IntactInstalledSet(folders.current);

  std::string bytes;
  DefinitionManifest published;
  if (const ResultChain read = ReadSource(request.source, bytes, published); read.Failed()) {
    return KV_MARK(read + err::UpdateUncIni);
  }
  if (!report.installed.version.empty() && report.installed.version == published.version) {
    return err::AlreadyLastestDefinition;
  }

  const ResultChain installed = InstallSet(request.source, published, bytes, folders, request.copyDelayMs);
  if (installed.Failed()) {
    // The previous set is still current; only the half-built staging folder goes.
    RemoveFolderTree(folders.staging);
    return KV_MARK(installed);
  }
  report.installed = published;
  return {};
}

}  // namespace kv::refengine
