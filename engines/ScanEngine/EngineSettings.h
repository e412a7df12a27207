// What one update needs from the settings text the service hands over.
//
// Read keys:
// - section "AntiVirus": "UpdateTypeKey" ("UpdateUnc" or "UpdateHttp"), "UpdateUnc" (the
//   folder or share holding the definition set) and "DefDatFolder" (the installed
//   definitions). Relative folders are taken from the program's folder (the process's
//   main module), the rule the service itself follows, so both agree wherever the
//   engine library lies;
// - section "Setting": "ProxyUser", "ProxyPass" and "IsGuiProxyAuthentication", the
//   proxy account. The password is only ever handed to WinHTTP;
// - the engine's own section "ScanEngine": "UpdateUrl", "PublicKey", "ProxyServer",
//   "ProxyAutoConfigUrl", "ProxyAutoDetect", "AllowUnsignedShare", "RequireExpiry",
//   "ConnectTimeoutSec", "SendTimeoutSec", "ReceiveTimeoutSec",
//   "TransferDeadlineSec", "MaxRedirects", "CheckRevocation", "FullVerifyDays" and the
//   test aid "CopyDelayMs".
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace kv::refengine {

inline constexpr wchar_t kEngineSection[] = L"ScanEngine";
inline constexpr wchar_t kUpdateTypeUnc[] = L"UpdateUnc";
inline constexpr wchar_t kUpdateTypeHttp[] = L"UpdateHttp";

// How the web server is reached.
struct HttpSettings {
  std::wstring url;          // the published set's base address, as configured
  std::wstring proxyServer;  // empty: the machine's WinHTTP proxy configuration
  // With neither of those: the PAC file to ask; empty: auto-detection, when it is on,
  // else direct.
  std::wstring proxyAutoConfigUrl;
  bool proxyAutoDetect = false;
  std::wstring proxyUser;
  std::wstring proxyPass;
  // The service account's own logon answers a proxy's challenge, where WinHTTP can
  // offer it, instead of "ProxyUser"/"ProxyPass".
  bool proxyLogon = true;
  DWORD connectTimeoutMs = 60000;
  DWORD sendTimeoutMs = 60000;
  DWORD receiveTimeoutMs = 60000;
  unsigned maxRedirects = 5;
  // The most one update may spend on the network, all its requests together.
  DWORD transferDeadlineMs = 1800 * 1000;
  // Whether HTTPS certificates are checked against their revocation lists.
  bool checkRevocation = true;
};

struct UpdateRequest {
  std::wstring updateType;
  std::wstring source;       // normalised; empty when not set
  std::wstring destination;  // normalised full path; empty when not set
  std::wstring publicKey;    // base64 text; empty when sets are not signed
  // A share may hold unsigned sets (closed networks that cannot sign); else a share
  // without a key fails as a web server does.
  bool allowUnsignedShare = false;
  // A set whose manifest names no expiry is refused.
  bool requireExpiry = false;
  HttpSettings http;
  // Days between two checks that hash every installed file (0: every check does); the
  // checks between compare the files' identities only.
  unsigned fullVerifyDays = 7;
  DWORD copyDelayMs = 0;
};

UpdateRequest ReadUpdateRequest(std::wstring_view settingsText);

// The folder of the running program (not of this library), without a trailing
// separator.
std::wstring ProgramFolder();

// `value` as a full path: absolute values (drive, UNC, rooted) stay, others are taken
// relative to `base`. Normalised; empty for an empty value.
std::wstring ResolveAgainst(const std::wstring& base, const std::wstring& value);

}  // namespace kv::refengine
