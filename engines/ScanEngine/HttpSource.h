// A definition set published on a web server: "<UpdateUrl>defset.ini", "defset.sig" and
// the listed files beside them, fetched over WinHTTP.
#pragma once

#include "HttpClient.h"
#include "SetSource.h"

namespace kv::refengine {

class HttpSource : public SetSource {
 public:
  // `base` is a normalised base address (NormalizeBaseUrl).
  HttpSource(std::wstring base, const HttpSettings& settings) : base_(std::move(base)), client_(settings) {}

  ResultChain Open() { return client_.Open(); }

  const std::wstring& Name() const override { return base_; }
  ErrorCode ManifestStep() const override;
  ErrorCode FilesStep() const override;
  ResultChain ReadManifest(const SetOrigin* known, bool withSignature, PublishedSet& set) override;
  ResultChain FetchFile(const ManifestFile& file, const std::wstring& target, Digest256& digest) override;
  ResultChain FetchObject(const wchar_t* folder, const std::wstring& name, std::uint64_t size,
                          const BodySink& sink) override;
  ResultChain FetchRange(const ManifestFile& file, std::uint64_t first, std::uint64_t count,
                         const BodySink& sink) override;
  std::optional<std::int64_t> AskedNotBefore() const override { return client_.AskedNotBefore(); }

 private:

  std::wstring base_;
  HttpClient client_;
};

}  // namespace kv::refengine
