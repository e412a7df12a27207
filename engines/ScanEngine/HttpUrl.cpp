#include "HttpUrl.h"

#include <cwctype>

#include "defset/EngineCodes.h"
#include "HttpCodes.h"
#include "foundation/HexDigits.h"
#include "foundation/TextEncoding.h"

namespace kv::refengine {

namespace {

std::wstring Origin(const UrlParts& parts) {
  // An IPv6 address goes back into brackets.
  const bool literal = parts.host.find(L':') != std::wstring::npos && parts.host.front() != L'[';
  const std::wstring host = literal ? L"[" + parts.host + L"]" : parts.host;
  return (parts.secure ? L"https://" : L"http://") + host + L":" + std::to_wstring(parts.port);
}

}  // namespace

bool StartsWithNoCase(const std::wstring& text, const wchar_t* prefix) {
  for (std::size_t i = 0; prefix[i] != L'\0'; ++i) {
    if (i >= text.size() || std::towlower(text[i]) != prefix[i]) return false;
  }
  return true;
}

ResultChain CrackUrl(const std::wstring& url, UrlParts& parts) {
  URL_COMPONENTS components{};
  components.dwStructSize = sizeof(components);
  components.dwHostNameLength = static_cast<DWORD>(-1);
  components.dwUrlPathLength = static_cast<DWORD>(-1);
  components.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (!::WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &components)) {
    return KV_MARK(ResultChain(UpdateUrlInvalid) + WinHttpFailure(::GetLastError()));
  }
  if (components.nScheme != INTERNET_SCHEME_HTTP && components.nScheme != INTERNET_SCHEME_HTTPS) {
    return KV_MARK(UpdateUrlInvalid);
  }
  if (components.dwHostNameLength == 0) return KV_MARK(UpdateUrlInvalid);
  parts.secure = components.nScheme == INTERNET_SCHEME_HTTPS;
  parts.host.assign(components.lpszHostName, components.dwHostNameLength);
  parts.port = components.nPort;
  parts.path.assign(components.lpszUrlPath, components.dwUrlPathLength);
  if (components.lpszExtraInfo != nullptr) parts.path.append(components.lpszExtraInfo, components.dwExtraInfoLength);
  if (parts.path.empty()) parts.path = L"/";
  return {};
}

std::wstring ResolveLocation(const UrlParts& current, std::wstring location) {
  location = location.substr(0, location.find(L'#'));
  if (location.find(L"://") != std::wstring::npos) return location;
  if (location.rfind(L"//", 0) == 0) return (current.secure ? L"https:" : L"http:") + location;
  if (location.rfind(L"/", 0) == 0) return Origin(current) + location;
  const std::wstring path = current.path.substr(0, current.path.find(L'?'));
  return Origin(current) + path.substr(0, path.rfind(L'/') + 1) + location;
}

ResultChain NormalizeBaseUrl(const std::wstring& url, std::wstring& base) {
  if (!StartsWithNoCase(url, L"http://") && !StartsWithNoCase(url, L"https://")) return KV_MARK(UpdateUrlInvalid);
  if (url.find_first_of(L"?#") != std::wstring::npos) return KV_MARK(UpdateUrlInvalid);
  // An account in the address would travel into every result text and log.
  const std::size_t authority = url.find(L"://") + 3;
  if (url.substr(authority, url.find(L'/', authority) - authority).find(L'@') != std::wstring::npos) {
    return KV_MARK(UpdateUrlInvalid);
  }
  UrlParts parts;
  KV_RETURN_IF_FAILED(CrackUrl(url, parts));
  base = url;
  if (base.back() != L'/') base += L'/';
  return {};
}

std::wstring FileUrl(const std::wstring& base, const std::wstring& name) {
  std::string utf8;
  (void)WideToNarrow(name, CP_UTF8, 0, utf8);  // names come from UTF-8 text: always converts
  std::wstring url = base;
  for (unsigned char c : utf8) {
    const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                            c == '.' || c == '_' || c == '~';
    if (unreserved) {
      url += static_cast<wchar_t>(c);
    } else {
      url += L'%';
      url += UpperHexDigit(c >> 4);
      url += UpperHexDigit(c & 15);
    }
  }
  return url;
}

}  // namespace kv::refengine
