#include "ShareSource.h"

#include "defset/EngineCodes.h"
#include "defset/FileTransfer.h"
#include "defset/SetSignature.h"
#include "foundation/ErrorCodes.h"

namespace kv::refengine {

ErrorCode ShareSource::ManifestStep() const { return err::UpdateUncIni; }

ErrorCode ShareSource::FilesStep() const { return err::UpdateUncFolder; }

ResultChain ShareSource::ReadManifest(const SetOrigin*, bool withSignature, PublishedSet& set) {
  set = PublishedSet{};
  if (!FolderExists(folder_)) return KV_MARK(ResultChain(UncFolderNotFound) + LastErrorChain());
  if (const ResultChain read = ReadWholeFile(folder_ + L"\\" + kManifestName, set.manifestBytes); read.Failed()) {
    return KV_MARK(ResultChain(err::UncIniNotFound) + read);
  }
  if (withSignature) {
    if (const ResultChain read = ReadWholeFile(folder_ + L"\\" + kSignatureName, set.signature); read.Failed()) {
      return KV_MARK(ResultChain(SignatureNotFound) + read);
    }
  }
  return {};
}

ResultChain ShareSource::FetchFile(const ManifestFile& file, const std::wstring& target, Digest256& digest) {
  std::uint64_t copied = 0;
  const ResultChain copy = CopyToNewFile(folder_ + L"\\" + file.name, target, file.size, copied, &digest);
  if (copy.Failed()) return KV_MARK(UnreadableFile(copy));
  if (copied != file.size) return KV_MARK(FileSizeMismatch);
  return {};
}

ResultChain ShareSource::FetchObject(const wchar_t* folder, const std::wstring& name, std::uint64_t size,
                                     const BodySink& sink) {
  FileReader published;
  std::uint64_t length = 0;
  if (const ResultChain opened = published.Open(folder_ + L"\\" + folder + L"\\" + name); opened.Failed()) {
    return KV_MARK(UnreadableFile(opened));
  }
  KV_RETURN_IF_FAILED(published.Size(length));
  if (length > size) return KV_MARK(FileSizeMismatch);
  KV_RETURN_IF_FAILED(published.Stream(0, length, sink));
  return {};
}

ResultChain ShareSource::FetchRange(const ManifestFile& file, std::uint64_t first, std::uint64_t count,
                                    const BodySink& sink) {
  FileReader published;
  if (const ResultChain opened = published.Open(folder_ + L"\\" + file.name); opened.Failed()) {
    return KV_MARK(UnreadableFile(opened));
  }
  KV_RETURN_IF_FAILED(published.Stream(first, count, sink));
  return {};
}

}  // namespace kv::refengine
