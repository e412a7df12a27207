#include "ToolSupport.h"

#include <windows.h>

#include <cstdint>
#include <vector>

#include "ConsoleOutput.h"
#include "foundation/TextEncoding.h"
#include "foundation/TextFormat.h"
#include "protect/ResourceFile.h"

namespace kv::tool {

std::wstring FullPathOf(const std::wstring& path) {
  if (path.empty()) return path;
  DWORD size = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (size == 0) return path;
  std::wstring full(size, L'\0');
  size = ::GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
  if (size == 0 || size >= full.size()) return path;
  full.resize(size);
  return full;
}

ResultChain ReadProgramConfig(const std::wstring& programPath, std::wstring& text) {
  text.clear();
  ResourceFile file;
  KV_RETURN_IF_FAILED(file.Open(programPath));
  std::vector<std::uint8_t> payload;
  KV_RETURN_IF_FAILED(file.ProtectedRead(ResourceFile::kConfigResource, payload));
  KV_RETURN_IF_FAILED(DecodeText(payload.data(), payload.size(), text));
  return {};
}

int Fail(const ResultChain& chain) {
  WriteError(chain.ToText() + L"\n");
  return 1;
}

int Complain(const wchar_t* command, const std::wstring& message, int exitCode) {
  WriteError(std::wstring(L"kvtool ") + command + L": " + message + L"\n");
  return exitCode;
}

std::wstring LocalDateTimeText(const TimePoint& time) {
  static const wchar_t* const kDays[] = {L"Sunday",   L"Monday", L"Tuesday", L"Wednesday",
                                         L"Thursday", L"Friday", L"Saturday"};
  if (time.Validate().Failed()) return L"(cannot be shown)";
  const std::tm local = time.ToLocal();
  if (local.tm_year == 0 && local.tm_mon == 0 && local.tm_mday == 0) return L"(cannot be shown)";
  const int day = local.tm_wday >= 0 && local.tm_wday < 7 ? local.tm_wday : 0;
  return FormatText(L"%s %04d-%02d-%02d %02d:%02d:%02d", kDays[day], local.tm_year + 1900, local.tm_mon + 1,
                    local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
}

bool IsPrintable(const std::wstring& text) {
  for (wchar_t c : text) {
    if (c < 0x20 || c == 0x7F) return false;
  }
  return true;
}

}  // namespace kv::tool
