#include "StagingCopy.h"

#include "DeltaFetch.h"
#include "config/IniText.h"
#include "defset/EngineCodes.h"
#include "defset/FileTransfer.h"
#include "defset/ParallelWork.h"
#include "foundation/ErrorCodes.h"
#include "foundation/FileSystem.h"
#include "foundation/OwnFiles.h"

namespace kv::refengine {

namespace {

// The index of the installed entry for the same file (names compare as Windows compares
// them), or -1 when there is none with the same size and digest.
std::ptrdiff_t InstalledEntry(const DefinitionManifest& installed, const ManifestFile& file) {
  for (std::size_t i = 0; i < installed.files.size(); ++i) {
    const ManifestFile& entry = installed.files[i];
    if (IniCompare(entry.name, file.name)) {
      return entry.size == file.size && entry.digest == file.digest ? static_cast<std::ptrdiff_t>(i) : -1;
    }
  }
  return -1;
}

// Links the installed file into staging when it is still the file the check confirmed.
// A read-only file is not linked: deleting a folder tree clears that attribute first,
// and on a link it would clear it on the installed file too.
bool LinkInstalled(const std::wstring& from, const FileIdentity& confirmed, const std::wstring& target,
                   StagedFile& staged) {
  FileIdentity before;
  DWORD attributes = 0;
  if (IdentityOfFile(from, before, &attributes).Failed() || before != confirmed ||
      (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    return false;
  }
  if (!::CreateHardLinkW(LongPathForm(target).c_str(), LongPathForm(from).c_str(), /*lpSecurityAttributes=*/nullptr)) {
    return false;
  }
  // Replaced between the two looks: the link names another file than the one confirmed.
  if (IdentityOfFile(target, staged.identity).Failed() || staged.identity != confirmed) {
    ::DeleteFileW(LongPathForm(target).c_str());
    return false;
  }
  return true;
}

// Copies the installed file when it still is what the manifest says.
bool CopyInstalled(const std::wstring& from, const ManifestFile& file, const std::wstring& target,
                   StagedFile& staged) {
  if (CopyToNewFile(from, target, file.size, staged.size, &staged.digest).Failed() || staged.size != file.size ||
      staged.digest != file.digest) {
    ::DeleteFileW(LongPathForm(target).c_str());
    return false;
  }
  return true;
}

enum class Placed : char { kFetched, kCopied, kLinked };

}  // namespace

ResultChain StageDefinitionSet(SetSource& source, const PublishedSet& set, const DefinitionManifest& installed,
                               const InstalledCheck& check, const std::wstring& current, const std::wstring& staging,
                               const std::wstring& partial, DWORD pauseMs, StagingCounts& counts, std::vector<StagedFile>& staged) {
  counts = StagingCounts{};
  // It becomes the definitions folder, which whatever scans with it reads.
  if (ResultChain made = CreateOwnFolder(staging, Readers::Users, /*mustBeNew=*/true); made.Failed()) {
    return KV_MARK(ResultChain(err::CannotCreateFolder) + made);
  }
  const std::vector<ManifestFile>& files = set.manifest.files;
  staged.assign(files.size(), StagedFile{});
  std::vector<Placed> placed(files.size(), Placed::kFetched);
  std::vector<FetchedFile> fetched(files.size());
  const ResultChain done = ForEachInParallel(files.size(), kParallelFetches, [&](std::size_t i) -> ResultChain {
    const ManifestFile& file = files[i];
    const std::wstring target = staging + L"\\" + file.name;
    StagedFile& out = staged[i];
    const std::ptrdiff_t entry = InstalledEntry(installed, file);
    if (entry >= 0) {
      const std::size_t j = static_cast<std::size_t>(entry);
      const std::wstring from = current + L"\\" + installed.files[j].name;
      if (j < check.confirmed.size() && check.confirmed[j] != 0 &&
          LinkInstalled(from, check.identities[j], target, out)) {
        out.size = file.size;
        out.digest = file.digest;
        placed[i] = Placed::kLinked;
      } else if (CopyInstalled(from, file, target, out)) {
        placed[i] = Placed::kCopied;
      }
    }
    if (placed[i] == Placed::kFetched) {
      const std::vector<std::wstring> have = {current + L"\\" + file.name, partial + L"\\" + file.name};
      KV_RETURN_IF_FAILED(FetchChangedFile(source, file, have, target, out.digest, fetched[i]));
      out.size = file.size;
    }
    // Only what the next check compares; a file without it is hashed then.
    if (placed[i] != Placed::kLinked) (void)IdentityOfFile(target, out.identity);
    if (pauseMs != 0) ::Sleep(pauseMs);
    return {};
  });
  if (done.Failed()) return KV_MARK(done);
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (placed[i] == Placed::kFetched) {
      ++counts.fetchedFiles;
      counts.fetchedBytes += fetched[i].bytes;
      if (fetched[i].assembled) ++counts.assembledFiles;
      if (fetched[i].patched) ++counts.patchedFiles;
      if (fetched[i].compressed) ++counts.compressedFiles;
    } else {
      ++counts.reusedFiles;
      if (placed[i] == Placed::kLinked) ++counts.linkedFiles;
    }
  }
  if (!set.signature.empty()) {
    KV_RETURN_IF_FAILED(WriteNewFile(staging + L"\\" + kSignatureName, set.signature));
  }
  if (!set.origin.url.empty()) {
    KV_RETURN_IF_FAILED(WriteNewFile(staging + L"\\" + kOriginName, OriginBytes(set.origin)));
  }
  KV_RETURN_IF_FAILED(WriteNewFile(staging + L"\\" + kManifestName, set.manifestBytes));
  return {};
}

ResultChain CheckStagedSet(const DefinitionManifest& manifest, const std::vector<StagedFile>& staged) {
  if (staged.size() != manifest.files.size()) return KV_MARK(err::ErrorUncHashCompare);
  for (std::size_t i = 0; i < staged.size(); ++i) {
    if (staged[i].size != manifest.files[i].size) return KV_MARK(FileSizeMismatch);
    if (staged[i].digest != manifest.files[i].digest) return KV_MARK(err::ErrorUncHashCompare);
  }
  return {};
}

ResultChain VerifyDefinitionSet(const std::wstring& folder, const DefinitionManifest& manifest) {
  return ForEachInParallel(manifest.files.size(), kParallelChecks, [&](std::size_t i) -> ResultChain {
    const ManifestFile& file = manifest.files[i];
    std::uint64_t size = 0;
    Digest256 digest{};
    const ResultChain read = DigestOfFile(folder + L"\\" + file.name, size, digest);
    if (read.Failed()) return KV_MARK(UnreadableFile(read));
    if (size != file.size) return KV_MARK(FileSizeMismatch);
    if (digest != file.digest) return KV_MARK(err::ErrorUncHashCompare);
    return {};
  });
}

}  // namespace kv::refengine
