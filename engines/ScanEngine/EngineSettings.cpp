#include "EngineSettings.h"

#include <algorithm>
#include <vector>

#include "config/IniDocument.h"
#include "foundation/FileSystem.h"

namespace kv::refengine {

namespace {

// Longest pause the test aid accepts, so a mistyped value cannot stall the service.
constexpr DWORD kMaxCopyDelayMs = 60000;

bool IsAbsolute(const std::wstring& path) {
  if (path.size() >= 2 && path[1] == L':') return true;
  return !path.empty() && (path[0] == L'\\' || path[0] == L'/');
}

}  // namespace

std::wstring EngineFolder() {
  HMODULE self = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&EngineFolder), &self);
  std::vector<wchar_t> buffer(32768);
  const DWORD n = ::GetModuleFileNameW(self, buffer.data(), static_cast<DWORD>(buffer.size()));
  const std::wstring path(buffer.data(), n);
  const std::size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::wstring ResolveAgainst(const std::wstring& base, const std::wstring& value) {
  if (value.empty()) return {};
  return NormalizePath(IsAbsolute(value) ? value : base + L"\\" + value);
}

UpdateRequest ReadUpdateRequest(std::wstring_view settingsText) {
  IniDocument settings(settingsText);
  UpdateRequest request;
  request.updateType = settings.GetString(L"UpdateTypeKey", {}, L"AntiVirus");
  request.source = ResolveAgainst(EngineFolder(), settings.GetString(L"UpdateUnc", {}, L"AntiVirus"));
  request.destination = ResolveAgainst(EngineFolder(), settings.GetString(L"DefDatFolder", {}, L"AntiVirus"));
  request.copyDelayMs = std::min<DWORD>(settings.GetInt(L"CopyDelayMs", 0, 0, kEngineSection), kMaxCopyDelayMs);
  return request;
}

}  // namespace kv::refengine
