#include "StagingCopy.h"

#include "EngineCodes.h"
#include "FileTransfer.h"
#include "ParallelWork.h"
#include "config/IniText.h"
#include "foundation/ErrorCodes.h"
#include "foundation/FileSystem.h"

namespace kv::refengine {

namespace {

// The installed entry for the same file (names compare as Windows compares them).
const ManifestFile* InstalledEntry(const DefinitionManifest& installed, const ManifestFile& file) {
  for (const ManifestFile& entry : installed.files) {
    if (IniCompare(entry.name, file.name)) {
      return entry.size == file.size && entry.digest == file.digest ? &entry : nullptr;
    }
  }
  return nullptr;
}

// Copies the installed file when it still is what the manifest says.
bool ReuseInstalled(const std::wstring& current, const ManifestFile& entry, const ManifestFile& file,
                    const std::wstring& target) {
  std::uint64_t copied = 0;
  Digest256 digest{};
  if (CopyToNewFile(current + L"\\" + entry.name, target, file.size, copied, &digest).Failed() ||
      copied != file.size || digest != file.digest) {
    ::DeleteFileW(LongPathForm(target).c_str());
    return false;
  }
  return true;
}

}  // namespace

ResultChain StageDefinitionSet(SetSource& source, const PublishedSet& set, const DefinitionManifest& installed,
                               const std::wstring& current, const std::wstring& staging, DWORD pauseMs,
                               StagingCounts& counts) {
  counts = StagingCounts{};
  if (!::CreateDirectoryW(LongPathForm(staging, PathKind::Folder).c_str(), /*lpSecurityAttributes=*/nullptr)) {
    return KV_MARK(ResultChain(err::CannotCreateFolder) + LastErrorChain());
  }
  const std::vector<ManifestFile>& files = set.manifest.files;
  std::vector<char> fetched(files.size(), 0);
  const ResultChain staged = ForEachInParallel(files.size(), kParallelFetches, [&](std::size_t i) -> ResultChain {
    const ManifestFile& file = files[i];
    const std::wstring target = staging + L"\\" + file.name;
    const ManifestFile* entry = InstalledEntry(installed, file);
    if (entry == nullptr || !ReuseInstalled(current, *entry, file, target)) {
      if (const ResultChain got = source.FetchFile(file, target); got.Failed()) return KV_MARK(got);
      fetched[i] = 1;
    }
    if (pauseMs != 0) ::Sleep(pauseMs);
    return {};
  });
  if (staged.Failed()) return KV_MARK(staged);
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (fetched[i] != 0) {
      ++counts.fetchedFiles;
      counts.fetchedBytes += files[i].size;
    } else {
      ++counts.reusedFiles;
    }
  }
  if (!set.signature.empty()) {
    if (const ResultChain wrote = WriteNewFile(staging + L"\\" + kSignatureName, set.signature); wrote.Failed()) {
      return KV_MARK(wrote);
    }
  }
  if (!set.origin.url.empty()) {
    if (const ResultChain wrote = WriteNewFile(staging + L"\\" + kOriginName, OriginBytes(set.origin));
        wrote.Failed()) {
      return KV_MARK(wrote);
    }
  }
  if (const ResultChain wrote = WriteNewFile(staging + L"\\" + kManifestName, set.manifestBytes); wrote.Failed()) {
    return KV_MARK(wrote);
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
