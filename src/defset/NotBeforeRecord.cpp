#include "defset/NotBeforeRecord.h"

#include "config/IniDocument.h"
#include "foundation/FileSystem.h"
#include "foundation/TextEncoding.h"
#include "foundation/TextFormat.h"
#include "foundation/UtcMoment.h"
#include "kernel/HandleHolder.h"

namespace kv {

namespace {

constexpr wchar_t kSection[] = L"NotBefore";
// FILETIME's 100 ns ticks from 1601 to 1970.
constexpr std::int64_t kTicksPerSecond = 10000000;
constexpr std::int64_t kEpochTicks = 116444736000000000;
// A record is a few lines; anything longer is not one.
constexpr DWORD kMostRecordBytes = 4096;

std::int64_t SecondsOf(const FILETIME& time) {
  ULARGE_INTEGER ticks{};
  ticks.LowPart = time.dwLowDateTime;
  ticks.HighPart = time.dwHighDateTime;
  return (static_cast<std::int64_t>(ticks.QuadPart) - kEpochTicks) / kTicksPerSecond;
}

}  // namespace

std::wstring NotBeforePath(const std::wstring& definitionFolder) { return definitionFolder + L".notbefore"; }

std::int64_t UtcNow() {
  FILETIME now{};
  ::GetSystemTimeAsFileTime(&now);
  return SecondsOf(now);
}

std::optional<std::int64_t> UtcSeconds(const SYSTEMTIME& time) {
  FILETIME file{};
  if (!::SystemTimeToFileTime(&time, &file)) return std::nullopt;
  return SecondsOf(file);
}

std::wstring UtcText(std::int64_t utc) {
  ULARGE_INTEGER ticks{};
  ticks.QuadPart = static_cast<ULONGLONG>(utc * kTicksPerSecond + kEpochTicks);
  const FILETIME file{ticks.LowPart, ticks.HighPart};
  SYSTEMTIME t{};
  if (utc < 0 || !::FileTimeToSystemTime(&file, &t)) return L"1970-01-01T00:00:00Z";
  return FormatText(L"%04u-%02u-%02uT%02u:%02u:%02uZ", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
}

std::string NotBeforeBytes(const NotBeforeRecord& record) {
  IniDocument document;
  (void)document.SetString(L"Utc", UtcText(record.utc), kSection);  // setters always succeed
  (void)document.SetString(L"Url", record.url, kSection);
  std::string text;
  // UTF-8 refuses only a lone surrogate in the URL; such a record then reads as none.
  (void)WideToNarrow(document.ToText(), CP_UTF8, 0, text);
  return "\xEF\xBB\xBF" + text;
}

std::optional<NotBeforeRecord> ParseNotBefore(const std::string& bytes) {
  IniDocument document;
  if (document.ParseBytes(bytes).Failed()) return std::nullopt;
  const std::wstring utc = document.GetString(L"Utc", {}, kSection);
  // Exactly the form UtcText writes.
  const std::optional<std::int64_t> seconds = ParseUtcMoment(utc);
  if (!seconds) return std::nullopt;
  return NotBeforeRecord{*seconds, document.GetString(L"Url", {}, kSection)};
}

std::optional<NotBeforeRecord> ReadNotBefore(const std::wstring& path) {
  HandleHolder file(INVALID_HANDLE_VALUE);
  if (file.Attach(::CreateFileW(LongPathForm(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr))
          .Failed()) {
    return std::nullopt;
  }
  std::string bytes(kMostRecordBytes + 1, '\0');
  DWORD got = 0;
  if (!::ReadFile(file.Get(), bytes.data(), kMostRecordBytes + 1, &got, nullptr) || got > kMostRecordBytes) {
    return std::nullopt;
  }
  bytes.resize(got);
  return ParseNotBefore(bytes);
}

}  // namespace kv
