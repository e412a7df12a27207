// A definition set published in a folder or on a file share.
#pragma once

#include "SetSource.h"

namespace kv::refengine {

class ShareSource : public SetSource {
 public:
  explicit ShareSource(std::wstring folder) : folder_(std::move(folder)) {}

  const std::wstring& Name() const override { return folder_; }
  ErrorCode ManifestStep() const override;
  ErrorCode FilesStep() const override;
  ResultChain ReadManifest(const SetOrigin* known, bool withSignature, PublishedSet& set) override;
  ResultChain FetchFile(const ManifestFile& file, const std::wstring& target, Digest256& digest) override;
  ResultChain FetchObject(const wchar_t* folder, const std::wstring& name, std::uint64_t size,
                          const BodySink& sink) override;
  ResultChain FetchRange(const ManifestFile& file, std::uint64_t first, std::uint64_t count,
                         const BodySink& sink) override;

 private:
  std::wstring folder_;
};

}  // namespace kv::refengine
