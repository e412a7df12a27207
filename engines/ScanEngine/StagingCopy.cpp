#include "StagingCopy.h"

#include "EngineCodes.h"
#include "FileTransfer.h"
#include "foundation/ErrorCodes.h"

namespace kv::refengine {

namespace {

bool IsMissingFileError(ErrorCode code) {
  return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND || code == ERROR_BAD_NETPATH;
}

// A file that cannot be opened: named as missing when the system says so.
ResultChain UnreadableFile(const ResultChain& cause) {
  if (IsMissingFileError(cause.Last())) return ResultChain(err::UncFileNotFound) + cause;
  return cause;
}

}  // namespace

ResultChain StageDefinitionSet(const std::wstring& source, const DefinitionManifest& manifest,
                               const std::string& manifestBytes, const std::wstring& staging, DWORD pauseMs) {
  if (!::CreateDirectoryW(staging.c_str(), /*lpSecurityAttributes=*/nullptr)) {
    return KV_MARK(ResultChain(err::CannotCreateFolder) + LastErrorChain());
  }
  for (const ManifestFile& file : manifest.files) {
    std::uint64_t copied = 0;
    const ResultChain copy = CopyToNewFile(source + L"\\" + file.name, staging + L"\\" + file.name, copied);
    if (copy.Failed()) return KV_MARK(UnreadableFile(copy));
    if (copied != file.size) return KV_MARK(FileSizeMismatch);
    if (pauseMs != 0) ::Sleep(pauseMs);
  }
  if (const ResultChain wrote = WriteNewFile(staging + L"\\" + kManifestName, manifestBytes); wrote.Failed()) {
    return KV_MARK(wrote);
  }
  return {};
}

ResultChain VerifyDefinitionSet(const std::wstring& folder, const DefinitionManifest& manifest) {
  for (const ManifestFile& file : manifest.files) {
    std::uint64_t size = 0;
    Digest256 digest{};
    const ResultChain read = DigestOfFile(folder + L"\\" + file.name, size, digest);
    if (read.Failed()) return KV_MARK(UnreadableFile(read));
    if (size != file.size) return KV_MARK(FileSizeMismatch);
    if (digest != file.digest) return KV_MARK(err::ErrorUncHashCompare);
  }
  return {};
}

}  // namespace kv::refengine
