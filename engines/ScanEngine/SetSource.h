// Where a published definition set is read from: a folder or share, or a web server.
// The update asks a source for the manifest and then for each file it has to fetch;
// staging, checking and swapping are the same whatever the source.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "EngineSettings.h"
#include "HttpClient.h"
#include "defset/DefinitionManifest.h"
#include "defset/SetOrigin.h"
#include "foundation/ResultChain.h"

namespace kv::refengine {

// What a source publishes.
struct PublishedSet {
  std::string manifestBytes;  // exactly the bytes that are checked and installed
  DefinitionManifest manifest;  // parsed by the update once the bytes are authenticated
  std::string signature;  // the bytes of "defset.sig"; empty when it was not asked for
  SetOrigin origin;       // web servers only
  // The server said the manifest has not changed since `known`: nothing else was read.
  bool notModified = false;
};

class SetSource {
 public:
  virtual ~SetSource() = default;

  // The source as the result text names it.
  virtual const std::wstring& Name() const = 0;
  // The step codes of reading the manifest and of fetching files.
  virtual ErrorCode ManifestStep() const = 0;
  virtual ErrorCode FilesStep() const = 0;

  // Reads the manifest's bytes and, with `withSignature`, its signature ("defset.sig";
  // missing: SignatureNotFound). Nothing is parsed here: bytes from the network or a
  // share are only interpreted once the signature vouches for them. `known`, the origin
  // of the intact installed set, lets a web server answer "not modified".
  virtual ResultChain ReadManifest(const SetOrigin* known, bool withSignature, PublishedSet& set) = 0;

  // Writes the listed file as the new file `target`: exactly the manifest's size, or
  // FileSizeMismatch without reading far past it. `digest` receives the SHA-256 of the
  // bytes written, hashed as they stream to the disk, so nothing reads them back.
  virtual ResultChain FetchFile(const ManifestFile& file, const std::wstring& target, Digest256& digest) = 0;

  // Streams the published object `folder`\`name` (a chunk index, a compressed copy, a
  // patch) into `sink`: at most `size` bytes, more fail with FileSizeMismatch. The caller
  // checks the count and the digest.
  virtual ResultChain FetchObject(const wchar_t* folder, const std::wstring& name, std::uint64_t size,
                                  const BodySink& sink) = 0;

  // Streams `count` bytes of the listed file, from `first` on, into `sink`. A source that
  // cannot serve a part of a file fails with RangeNotServed; one that has fewer bytes
  // there fails as a short read.
  virtual ResultChain FetchRange(const ManifestFile& file, std::uint64_t first, std::uint64_t count,
                                 const BodySink& sink) = 0;

  // The moment (UTC seconds) the source asked to be left alone until; none when it did not.
  virtual std::optional<std::int64_t> AskedNotBefore() const { return std::nullopt; }
};

// The source the request names ("UpdateUnc" or "UpdateHttp"); a web source has its
// session open. Either needs a public key (PublicKeyNotSet), a share not when
// "AllowUnsignedShare=1".
ResultChain OpenSource(const UpdateRequest& request, std::unique_ptr<SetSource>& source);

}  // namespace kv::refengine
