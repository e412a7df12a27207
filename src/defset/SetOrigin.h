// Kept beside an installed set that came from a web server (kOriginName,
// "defset.origin"): the manifest's address and what the server said about it, so that
// the next update can ask whether it changed.
//
//   [Origin]
//   Url=https://updates.example/defs/defset.ini
//   ETag="5f2c-1a"
//   LastModified=Tue, 08 Dec 2026 06:00:00 GMT
#pragma once

#include <string>

namespace kv::refengine {

// What a server said about a manifest, so that the next request can ask "changed
// since?" ("If-None-Match", "If-Modified-Since").
struct Validators {
  std::wstring etag;
  std::wstring lastModified;
  bool Empty() const { return etag.empty() && lastModified.empty(); }
  bool operator==(const Validators&) const = default;
};

struct SetOrigin {
  std::wstring url;
  Validators validators;
  bool operator==(const SetOrigin&) const = default;
};

// Reads `folder`\defset.origin; an empty origin when there is none or it cannot be read.
SetOrigin ReadOrigin(const std::wstring& folder);
// The file's bytes.
std::string OriginBytes(const SetOrigin& origin);

}  // namespace kv::refengine
