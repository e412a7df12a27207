#include "HttpSource.h"

#include "defset/EngineCodes.h"
#include "defset/FileTransfer.h"
#include "defset/SetSignature.h"
#include "foundation/ErrorCodes.h"

namespace kv::refengine {

namespace {

// The engine reads manifests of at most this size, from a share too (ReadWholeFile).
constexpr std::uint64_t kMaxManifestBytes = 1024 * 1024;

BodySink IntoText(std::string& text) {
  return [&text](const char* data, std::size_t size) -> ResultChain {
    text.append(data, size);
    return {};
  };
}

}  // namespace

ErrorCode HttpSource::ManifestStep() const { return UpdateHttpIni; }

ErrorCode HttpSource::FilesStep() const { return UpdateHttpFolder; }

ResultChain HttpSource::ReadManifest(const SetOrigin* known, bool withSignature, PublishedSet& set) {
  set = PublishedSet{};
  set.origin.url = FileUrl(base_, kManifestName);
  // Only the validators of this very address mean anything to the server.
  const Validators* conditional =
      known != nullptr && known->url == set.origin.url && !known->validators.Empty() ? &known->validators : nullptr;
  HttpResponse response;
  KV_RETURN_IF_FAILED(client_.Get(set.origin.url, conditional, kMaxManifestBytes, err::SizelimitOver,
                                  IntoText(set.manifestBytes), response));
  if (response.status == HTTP_STATUS_NOT_MODIFIED) {
    set.notModified = true;
    return {};
  }
  set.origin.validators = response.validators;
  if (withSignature) {
    if (const ResultChain got = client_.Get(FileUrl(base_, kSignatureName), nullptr, kMaxSignatureBytes,
                                            err::SizelimitOver, IntoText(set.signature), response);
        got.Failed()) {
      return KV_MARK(ResultChain(SignatureNotFound) + got);
    }
  }
  return {};
}

ResultChain HttpSource::FetchFile(const ManifestFile& file, const std::wstring& target, Digest256& digest) {
  NewFile output;
  KV_RETURN_IF_FAILED(output.Create(target));
  std::uint64_t received = 0;
  Sha256 hash;
  const BodySink sink = [&](const char* data, std::size_t size) -> ResultChain {
    received += size;
    hash.Update(data, size);
    return output.Write(data, size);
  };
  HttpResponse response;
  KV_RETURN_IF_FAILED(client_.Get(FileUrl(base_, file.name), nullptr, file.size, FileSizeMismatch, sink, response));
  if (received != file.size) return KV_MARK(FileSizeMismatch);
  KV_RETURN_IF_FAILED(output.Finish());
  digest = hash.Finish();
  return {};
}

ResultChain HttpSource::FetchObject(const wchar_t* folder, const std::wstring& name, std::uint64_t size,
                                    const BodySink& sink) {
  HttpResponse response;
  KV_RETURN_IF_FAILED(
      client_.Get(FileUrl(FileUrl(base_, folder) + L"/", name), nullptr, size, FileSizeMismatch, sink, response));
  return {};
}

ResultChain HttpSource::FetchRange(const ManifestFile& file, std::uint64_t first, std::uint64_t count,
                                   const BodySink& sink) {
  KV_RETURN_IF_FAILED(client_.GetRange(FileUrl(base_, file.name), {first, count, file.size}, sink));
  return {};
}

}  // namespace kv::refengine
