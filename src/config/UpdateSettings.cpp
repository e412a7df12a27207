#include "config/UpdateSettings.h"

#include <utility>

#include "foundation/GroupAccess.h"
#include "foundation/PathName.h"

namespace kv {

std::wstring SettingsFilePath() {
  // A bare file name completes with the program's own folder.
  PathName path;
  (void)path.Set(kSettingsFileName);  // a constant, non-empty name: always taken
  return path.FullPath();
}

ResultChain OverlayFileSettings(IniDocument& target, IniDocument& source) {
  const auto read = [&source](const wchar_t* key) { return source.GetString(key, L"", kSettingsSection); };
  // IniDocument's setters always succeed.
  (void)target.SetString(L"ProxyUser", read(L"ProxyUser"), L"Setting");
  (void)target.SetString(L"ProxyPass", read(L"ProxyPass"), L"Setting");
  const bool proxyPassOff = source.GetInt(L"IsEnableProxyPass", 0, 0, kSettingsSection) == 0;
  (void)target.SetBool(L"IsGuiProxyAuthentication", proxyPassOff ? 1 : 0, L"Setting");
  (void)target.SetString(L"UncPath", read(L"UncPath"), L"Setting");
  const std::wstring otherUnc = read(L"OtherUncPath");
  (void)target.SetString(L"UpdateUnc", otherUnc, L"AntiVirus");
  (void)target.SetString(L"UpdateTypeKey", otherUnc.empty() ? L"UpdateHttp" : L"UpdateUnc", L"AntiVirus");
  return {};
}

ResultChain ProxyPassReaders(const std::wstring& path, IniDocument& settings, std::vector<std::wstring>& readers) {
  readers.clear();
  if (settings.GetString(L"ProxyPass", L"", kSettingsSection).empty()) return {};
  GroupAccess access;
  KV_RETURN_IF_FAILED(JudgeFileAccess(path, access));
  readers = std::move(access.read);
  return {};
}

}  // namespace kv
