#include "EngineSettings.h"

#include <algorithm>

#include "config/IniDocument.h"
#include "foundation/FileSystem.h"
#include "foundation/PathName.h"

namespace kv::refengine {

namespace {

// Longest pause the test aid accepts, so a mistyped value cannot stall the service.
constexpr DWORD kMaxCopyDelayMs = 60000;
// Timeouts are whole seconds from 1 to an hour; anything else gives the default.
constexpr std::uint32_t kDefaultTimeoutSec = 60;
constexpr std::uint32_t kMaxTimeoutSec = 3600;
constexpr std::uint32_t kDefaultRedirects = 5;
constexpr std::uint32_t kMaxRedirects = 10;
// The network time of one update: half a minute to a day, default half an hour.
constexpr std::uint32_t kDefaultDeadlineSec = 1800;
constexpr std::uint32_t kMinDeadlineSec = 30;
constexpr std::uint32_t kMaxDeadlineSec = 86400;
constexpr std::uint32_t kDefaultFullVerifyDays = 7;
constexpr std::uint32_t kMaxFullVerifyDays = 365;

bool IsAbsolute(const std::wstring& path) {
  if (path.size() >= 2 && path[1] == L':') return true;
  return !path.empty() && (path[0] == L'\\' || path[0] == L'/');
}

DWORD TimeoutMs(IniDocument& settings, const wchar_t* key) {
  const std::uint32_t seconds = settings.GetInt(key, kDefaultTimeoutSec, 10, kEngineSection);
  return (seconds == 0 || seconds > kMaxTimeoutSec ? kDefaultTimeoutSec : seconds) * 1000;
}

}  // namespace

std::wstring ProgramFolder() {
  const std::wstring program = ModulePath();
  const std::size_t slash = program.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : program.substr(0, slash);
}

std::wstring ResolveAgainst(const std::wstring& base, const std::wstring& value) {
  if (value.empty()) return {};
  return NormalizePath(IsAbsolute(value) ? value : base + L"\\" + value);
}

UpdateRequest ReadUpdateRequest(std::wstring_view settingsText) {
  IniDocument settings(settingsText);
  UpdateRequest request;
  const std::wstring program = ProgramFolder();
  request.updateType = settings.GetString(L"UpdateTypeKey", {}, L"AntiVirus");
  request.source = ResolveAgainst(program, settings.GetString(L"UpdateUnc", {}, L"AntiVirus"));
  request.destination = ResolveAgainst(program, settings.GetString(L"DefDatFolder", {}, L"AntiVirus"));
  request.publicKey = settings.GetString(L"PublicKey", {}, kEngineSection);
  // A value past the bound is taken as the bound, so a typo cannot end full checks.
  request.fullVerifyDays =
      std::min(settings.GetInt(L"FullVerifyDays", kDefaultFullVerifyDays, 10, kEngineSection), kMaxFullVerifyDays);
  request.copyDelayMs = std::min<DWORD>(settings.GetInt(L"CopyDelayMs", 0, 0, kEngineSection), kMaxCopyDelayMs);
  // Ways out of what a set must carry: only an explicit "1" takes them.
  request.allowUnsignedShare = settings.GetString(L"AllowUnsignedShare", {}, kEngineSection) == L"1";
  request.requireExpiry = settings.GetString(L"RequireExpiry", {}, kEngineSection) == L"1";

  HttpSettings& http = request.http;
  http.url = settings.GetString(L"UpdateUrl", {}, kEngineSection);
  http.proxyServer = settings.GetString(L"ProxyServer", {}, kEngineSection);
  http.proxyAutoConfigUrl = settings.GetString(L"ProxyAutoConfigUrl", {}, kEngineSection);
  http.proxyAutoDetect = settings.GetString(L"ProxyAutoDetect", {}, kEngineSection) == L"1";
  http.proxyUser = settings.GetString(L"ProxyUser", {}, L"Setting");
  http.proxyPass = settings.GetString(L"ProxyPass", {}, L"Setting");
  // "0" means the account of the settings file; anything else (the service writes "1")
  // means no stored password.
  http.proxyLogon = settings.GetInt(L"IsGuiProxyAuthentication", 1, 10, L"Setting") != 0;
  http.connectTimeoutMs = TimeoutMs(settings, L"ConnectTimeoutSec");
  http.sendTimeoutMs = TimeoutMs(settings, L"SendTimeoutSec");
  http.receiveTimeoutMs = TimeoutMs(settings, L"ReceiveTimeoutSec");
  const std::uint32_t redirects = settings.GetInt(L"MaxRedirects", kDefaultRedirects, 10, kEngineSection);
  http.maxRedirects = std::min(redirects, kMaxRedirects);
  // A value out of range is taken as its nearest bound, so that a typo can neither
  // lift the bound nor leave an update no time at all; 0 or no number gives the default.
  std::uint32_t deadline = settings.GetInt(L"TransferDeadlineSec", kDefaultDeadlineSec, 10, kEngineSection);
  if (deadline == 0) deadline = kDefaultDeadlineSec;
  http.transferDeadlineMs = std::clamp(deadline, kMinDeadlineSec, kMaxDeadlineSec) * 1000;
  // Only an explicit "0" turns the check off.
  http.checkRevocation = settings.GetString(L"CheckRevocation", {}, kEngineSection) != L"0";
  return request;
}

}  // namespace kv::refengine
