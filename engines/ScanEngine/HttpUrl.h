// Addresses for the HTTP source: a base address checked once, the file names under it,
// and an address taken apart for a request and followed through a redirect.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <string>

#include "foundation/ResultChain.h"

namespace kv::refengine {

struct UrlParts {
  bool secure = false;
  std::wstring host;
  INTERNET_PORT port = 0;
  std::wstring path;  // path and query, as sent in the request line
};

// Whether `text` begins with `prefix` (given in lower case), in any case.
bool StartsWithNoCase(const std::wstring& text, const wchar_t* prefix);

// An "http://" or "https://" address taken apart; UpdateUrlInvalid otherwise.
ResultChain CrackUrl(const std::wstring& url, UrlParts& parts);

// Where a Location header leads from `current`.
std::wstring ResolveLocation(const UrlParts& current, std::wstring location);

// A base address for file names: "http://" or "https://", no query or fragment, a
// trailing "/" added. UpdateUrlInvalid otherwise.
ResultChain NormalizeBaseUrl(const std::wstring& url, std::wstring& base);

// `name` appended to a base address, percent-encoded as UTF-8.
std::wstring FileUrl(const std::wstring& base, const std::wstring& name);

}  // namespace kv::refengine
