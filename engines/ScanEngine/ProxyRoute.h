// Which proxy, if any, one request goes through: "ProxyServer"; else the machine's WinHTTP
// proxy, its bypass list honoured; else the proxy that auto-configuration names (a PAC
// file named by "ProxyAutoConfigUrl", or, when "ProxyAutoDetect=1", one found by
// auto-detection). The engine decides this itself, rather than leaving it to WinHTTP, so
// that the proxy account is only ever offered where a request really goes to a proxy
// that an administrator named.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <string>
#include <utility>
#include <vector>

#include "EngineSettings.h"
#include "foundation/ResultChain.h"

namespace kv::refengine {

// The entry of a WinHTTP proxy list for a request of the given scheme: lists are
// "host:port", "http=host:port;https=host:port" or several of these separated by ";" or
// white space; a scheme prefix "http://" is dropped. Empty when the list names none.
std::wstring ProxyForScheme(const std::wstring& list, bool secure);

// Whether `host` is on a WinHTTP bypass list: entries separated by ";" or white space,
// "<local>" for names without a dot, "*" matching any run of characters, no case.
bool BypassesProxy(const std::wstring& bypass, const std::wstring& host);

// Who named the proxy a request goes through.
enum class ProxyOrigin {
  kDirect,        // no proxy
  kSetting,       // "ProxyServer"
  kMachine,       // the machine's WinHTTP proxy (netsh winhttp, Group Policy)
  kNamedScript,   // the PAC file at "ProxyAutoConfigUrl"
  kAutoDetected,  // Web Proxy Auto-Discovery: whoever answers DHCP or DNS "wpad"
};

// What a proxy's challenge may be answered with.
enum class ProxyCredentials {
  kNone,
  kAccount,  // "ProxyUser" and "ProxyPass"
  kLogon,    // the service account's own logon (Negotiate, NTLM)
};

// The rule for every request: only a proxy that an administrator named receives the
// stored account or the logon ("IsGuiProxyAuthentication" chooses which); a proxy found
// by auto-detection, and a server reached directly, receive nothing.
ProxyCredentials CredentialsFor(ProxyOrigin origin, const HttpSettings& settings);

class ProxyResolver {
 public:
  explicit ProxyResolver(const HttpSettings& settings) : settings_(settings) {}

  // Reads the machine's WinHTTP proxy configuration, unless "ProxyServer" replaces it.
  void Open();

  // The proxy ("host:port") for `url`, or empty for a direct request, and who named it.
  // `session` (one without a proxy) carries auto-configuration's own requests. A named
  // PAC file that cannot be read or run fails; auto-detection that finds nothing means
  // direct. Safe to call from several threads at once.
  ResultChain Resolve(HINTERNET session, const std::wstring& url, bool secure, const std::wstring& host,
                      std::wstring& proxy, ProxyOrigin& origin);

 private:
  struct Answer {
    std::wstring asked;  // scheme and host
    std::wstring proxy;
    ProxyOrigin origin;
  };
  ResultChain AutoConfigured(HINTERNET session, const std::wstring& url, bool secure, std::wstring& proxy,
                             ProxyOrigin& origin) const;

  const HttpSettings& settings_;
  bool machineNamed_ = false;
  std::wstring machineProxy_, machineBypass_;
  // What auto-configuration answered, by the scheme and host asked about: it is asked
  // once per server and update.
  SRWLOCK lock_ = SRWLOCK_INIT;
  std::vector<Answer> answers_;
};

}  // namespace kv::refengine
