#include "ProxyRoute.h"

#include <cwctype>

#include "HttpCodes.h"
#include "foundation/SrwGuard.h"
#include "foundation/UniqueOwner.h"

namespace kv::refengine {

namespace {

bool IsSeparator(wchar_t c) { return c == L';' || std::iswspace(c) != 0; }

std::vector<std::wstring> Entries(const std::wstring& list) {
  std::vector<std::wstring> entries;
  std::wstring entry;
  for (wchar_t c : list + L";") {
    if (!IsSeparator(c)) {
      entry += c;
    } else if (!entry.empty()) {
      entries.push_back(entry);
      entry.clear();
    }
  }
  return entries;
}

bool SameNoCase(const std::wstring& a, const wchar_t* b) {
  std::size_t i = 0;
  for (; i < a.size() && b[i] != L'\0'; ++i) {
    if (std::towlower(a[i]) != std::towlower(b[i])) return false;
  }
  return i == a.size() && b[i] == L'\0';
}

// `pattern` with "*" for any run of characters, compared without case.
bool WildcardMatch(const wchar_t* pattern, const wchar_t* text) {
  if (*pattern == L'\0') return *text == L'\0';
  if (*pattern == L'*') return WildcardMatch(pattern + 1, text) || (*text != L'\0' && WildcardMatch(pattern, text + 1));
  return *text != L'\0' && std::towlower(*pattern) == std::towlower(*text) && WildcardMatch(pattern + 1, text + 1);
}

// A text WinHTTP allocated with GlobalAlloc.
using GlobalText = UniqueOwner<LPWSTR, &::GlobalFree>;

// Takes ownership of the strings WinHTTP allocated in `info`.
void TakeProxyInfo(WINHTTP_PROXY_INFO& info, std::wstring& proxy, std::wstring& bypass) {
  const GlobalText ownedProxy(info.lpszProxy);
  const GlobalText ownedBypass(info.lpszProxyBypass);
  proxy = ownedProxy.IsOpen() ? ownedProxy.Get() : L"";
  bypass = ownedBypass.IsOpen() ? ownedBypass.Get() : L"";
}

}  // namespace

std::wstring ProxyForScheme(const std::wstring& list, bool secure) {
  std::wstring any, chosen;
  for (std::wstring entry : Entries(list)) {
    const std::size_t equals = entry.find(L'=');
    if (equals != std::wstring::npos) {
      if (chosen.empty() && SameNoCase(entry.substr(0, equals), secure ? L"https" : L"http")) {
        chosen = entry.substr(equals + 1);
      }
    } else if (any.empty()) {
      any = entry;
    }
  }
  std::wstring proxy = chosen.empty() ? any : chosen;
  if (const std::size_t scheme = proxy.find(L"://"); scheme != std::wstring::npos) proxy.erase(0, scheme + 3);
  while (!proxy.empty() && proxy.back() == L'/') proxy.pop_back();
  return proxy;
}

bool BypassesProxy(const std::wstring& bypass, const std::wstring& host) {
  for (const std::wstring& entry : Entries(bypass)) {
    if (SameNoCase(entry, L"<local>")) {
      if (host.find(L'.') == std::wstring::npos && host.find(L':') == std::wstring::npos) return true;
    } else {
      // An entry may carry a scheme ("http://intranet"); the host is what it names.
      const std::size_t scheme = entry.find(L"://");
      const std::wstring pattern = scheme == std::wstring::npos ? entry : entry.substr(scheme + 3);
      if (WildcardMatch(pattern.c_str(), host.c_str())) return true;
    }
  }
  return false;
}

ProxyCredentials CredentialsFor(ProxyOrigin origin, const HttpSettings& settings) {
  switch (origin) {
    case ProxyOrigin::kSetting:
    case ProxyOrigin::kMachine:
    case ProxyOrigin::kNamedScript:
      if (settings.proxyLogon) return ProxyCredentials::kLogon;
      return settings.proxyUser.empty() ? ProxyCredentials::kNone : ProxyCredentials::kAccount;
    case ProxyOrigin::kDirect:
    case ProxyOrigin::kAutoDetected:
      break;
  }
  return ProxyCredentials::kNone;
}

void ProxyResolver::Open() {
  if (!settings_.proxyServer.empty()) return;
  WINHTTP_PROXY_INFO info{};
  if (!::WinHttpGetDefaultProxyConfiguration(&info)) return;
  machineNamed_ = info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY;
  TakeProxyInfo(info, machineProxy_, machineBypass_);
  if (machineProxy_.empty()) machineNamed_ = false;
}

ResultChain ProxyResolver::Resolve(HINTERNET session, const std::wstring& url, bool secure, const std::wstring& host,
                                   std::wstring& proxy, ProxyOrigin& origin) {
  proxy.clear();
  origin = ProxyOrigin::kDirect;
  if (!settings_.proxyServer.empty()) {
    proxy = ProxyForScheme(settings_.proxyServer, secure);
    if (!proxy.empty()) origin = ProxyOrigin::kSetting;
    return {};
  }
  if (machineNamed_) {
    if (!BypassesProxy(machineBypass_, host)) proxy = ProxyForScheme(machineProxy_, secure);
    if (!proxy.empty()) origin = ProxyOrigin::kMachine;
    return {};
  }
  // Auto-detection is off unless the built-in configuration turns it on: whoever
  // answers DHCP or DNS on the segment would name the proxy.
  if (settings_.proxyAutoConfigUrl.empty() && !settings_.proxyAutoDetect) return {};
  const std::wstring key = (secure ? L"https://" : L"http://") + host;
  bool known = false;
  {
    const SharedGuard guard(lock_);
    for (const Answer& answer : answers_) {
      if (answer.asked == key) {
        proxy = answer.proxy;
        origin = answer.origin;
        known = true;
        break;
      }
    }
  }
  if (known) return {};
  KV_RETURN_IF_FAILED(AutoConfigured(session, url, secure, proxy, origin));
  {
    const ExclusiveGuard guard(lock_);
    answers_.push_back({key, proxy, origin});
  }
  return {};
}

ResultChain ProxyResolver::AutoConfigured(HINTERNET session, const std::wstring& url, bool secure,
                                          std::wstring& proxy, ProxyOrigin& origin) const {
  WINHTTP_AUTOPROXY_OPTIONS options{};
  const bool named = !settings_.proxyAutoConfigUrl.empty();
  if (named) {
    options.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
    options.lpszAutoConfigUrl = settings_.proxyAutoConfigUrl.c_str();
  } else {
    options.dwFlags = WINHTTP_AUTOPROXY_AUTO_DETECT;
    options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
  }
  // The server of the PAC file is offered no account either.
  options.fAutoLogonIfChallenged = FALSE;
  WINHTTP_PROXY_INFO info{};
  if (!::WinHttpGetProxyForUrl(session, url.c_str(), &options, &info)) {
    const DWORD error = ::GetLastError();
    // Most networks publish no auto-configuration: then requests go direct.
    if (!named) return {};
    return KV_MARK(WinHttpFailure(error));
  }
  const bool viaProxy = info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY;
  std::wstring list, bypass;
  TakeProxyInfo(info, list, bypass);
  if (viaProxy) proxy = ProxyForScheme(list, secure);
  if (!proxy.empty()) origin = named ? ProxyOrigin::kNamedScript : ProxyOrigin::kAutoDetected;
  return {};
}

}  // namespace kv::refengine
