#include "scan/ScannerVersionRecord.h"

#include <windows.h>

#include <algorithm>

#include "foundation/ErrorCodes.h"
#include "foundation/FileHandle.h"
#include "foundation/FileSystem.h"
#include "foundation/OwnFiles.h"
#include "foundation/PathName.h"
#include "foundation/TextEncoding.h"
#include "foundation/TextFormat.h"
#include "foundation/WholeFile.h"
#include "log/MonthlyLog.h"

namespace kv {

namespace {

constexpr wchar_t kVersionSection[] = L"ScannerVersion";

std::wstring Stamp(std::time_t now) {
  std::tm local{};
  localtime_s(&local, &now);
  return FormatText(L"%04d%02d%02d_%02d%02d%02d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                    local.tm_hour, local.tm_min, local.tm_sec);
}

// The document's text with the first section matching `from` by IniCompare written
// under the name `to`. Refused with AlreadyMaked, and written unchanged, when a section
// is already named exactly `to`.
std::wstring TextWithRenamedSection(const IniDocument& doc, const std::wstring& from, const std::wstring& to) {
  const auto& sections = doc.Sections();
  std::size_t renamed = sections.size();
  const bool taken = std::any_of(sections.begin(), sections.end(), [&](const IniSection& s) { return s.Name() == to; });
  for (std::size_t i = 0; !taken && i < sections.size(); ++i) {
    if (IniCompare(sections[i].Name(), from)) {
      renamed = i;
      break;
    }
  }
  std::wstring text;
  for (std::size_t i = 0; i < sections.size(); ++i) {
    if (sections[i].Name().empty()) continue;
    text += sections[i].ToText(i == renamed ? std::wstring_view(to) : std::wstring_view());
  }
  return text;
}

// The text a C runtime stream in text mode would write: every "\n" as "\r\n".
std::wstring TextModeLineEnds(const std::wstring& text) { return ReplaceAll(text, L"\n", L"\r\n"); }

ResultChain WriteWholeFile(const std::wstring& path, const std::string& bytes) {
  // Other programs read the version file: Users may read it.
  const FileHandle file(
      OpenForWriting(path, GENERIC_WRITE, /*share=*/0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, Readers::Users));
  if (!file.IsOpen()) return KV_MARK(LastErrorChain());
  KV_RETURN_IF_FAILED(WriteAllAndFlush(file.Get(), bytes));
  return {};
}

// Replaces `file` with `staged`. A reader holding the old file (a monitoring agent, a
// scanner, anyone polling it) makes the system refuse the replacement for as long as it
// holds it: without delete sharing on Windows, at all under Wine. Such reads are short,
// so the replacement is tried again for about two seconds before the update gives up
// and says so in the log.
constexpr int kReplaceAttempts = 20;
constexpr DWORD kReplaceRetryMs = 100;

ResultChain ReplaceWithStaged(const std::wstring& staged, const std::wstring& file) {
  for (int attempt = 1;; ++attempt) {
    if (::MoveFileExW(LongPathForm(staged).c_str(), LongPathForm(file).c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return {};
    }
    const DWORD error = ::GetLastError();
    const bool held = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION;
    if (!held || attempt == kReplaceAttempts) return KV_MARK(ResultChain(error));
    ::Sleep(kReplaceRetryMs);
  }
}

}  // namespace

std::wstring UpdateLogRecordText(const IniDocument& result, const ResultChain& update, unsigned seconds,
                                 std::time_t now, const ResultChain& cleanup) {
  IniDocument doc = result;
  // IniDocument's setters always succeed.
  (void)doc.SetDefaultSection(kVersionSection);
  (void)doc.SetString(L"TotalTime", FormatText(L"%u", seconds));
  (void)doc.SetString(L"Result", update.ToText());
  if (cleanup.Failed()) (void)doc.SetString(L"Cleanup", cleanup.ToText());
  return TextWithRenamedSection(doc, kVersionSection, FormatText(L"Update_%s", Stamp(now).c_str()));
}

ResultChain WriteUpdateLogRecord(MonthlyLog& log, const IniDocument& result, const ResultChain& update,
                                 unsigned seconds, std::time_t now, const ResultChain& cleanup) {
  KV_RETURN_IF_FAILED(log.Write(UpdateLogRecordText(result, update, seconds, now, cleanup)));
  return {};
}

std::wstring VersionFileFailureText(const std::wstring& file, const ResultChain& failure, std::time_t now) {
  IniDocument doc;
  const std::wstring section = FormatText(L"VersionFile_%s", Stamp(now).c_str());
  (void)doc.SetString(L"File", file, section);  // setters always succeed
  (void)doc.SetString(L"Result", failure.ToText(), section);
  return doc.ToText();
}

ResultChain WriteUpdateLogRecord(MonthlyLog& log, const IniDocument& result, const ResultChain& update,
                                 unsigned seconds) {
  return WriteUpdateLogRecord(log, result, update, seconds, std::time(nullptr));
}

void ClearProtectiveAttributes(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(LongPathForm(path, PathKind::Folder).c_str());
  constexpr DWORD kProtective = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_HIDDEN;
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & kProtective) == 0) return;
  ::SetFileAttributesW(LongPathForm(path, PathKind::Folder).c_str(), attributes & ~kProtective);
}

ResultChain DeleteFileForced(const std::wstring& path) {
  DWORD attributes = ::GetFileAttributesW(LongPathForm(path, PathKind::Folder).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return LastErrorChain();
  if (attributes & FILE_ATTRIBUTE_READONLY) {
    attributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    ::SetFileAttributesW(LongPathForm(path, PathKind::Folder).c_str(), attributes);
    if (attributes & FILE_ATTRIBUTE_SYSTEM) {
      attributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_SYSTEM);
      ::SetFileAttributesW(LongPathForm(path, PathKind::Folder).c_str(), attributes);
    }
  }
  ::SetFileAttributesW(LongPathForm(path, PathKind::Folder).c_str(), FILE_ATTRIBUTE_NORMAL);
  if (!::DeleteFileW(LongPathForm(path).c_str())) return LastErrorChain();
  return {};
}

std::wstring ScannerVersionFilePath(IniDocument& settings) {
  const std::wstring definitions = settings.GetString(L"DefDatFolder", L"", L"AntiVirus");
  if (definitions.empty()) return {};
  return NormalizePath(PathName(definitions).FullPath() + L"\\..\\ScannerVersion.ini");
}

ResultChain WriteScannerVersionFile(IniDocument& settings, IniDocument& result) {
  // Without a definition folder there is no "beside it": the file would land in whatever
  // the current folder happens to be.
  const std::wstring file = ScannerVersionFilePath(settings);
  if (file.empty()) return KV_MARK(err::InvalidFolder);
  const PathName folder(settings.GetString(L"DefDatFolder", L"", L"AntiVirus"));
  (void)result.SetString(L"DefinitionPath", folder.FileName(true), kVersionSection);  // always succeeds

  std::string bytes;
  KV_RETURN_IF_FAILED(WideToNarrow(TextModeLineEnds(result.ToText()), CP_ACP, 0, bytes));
  // Write the new file beside the old one first; only a complete file replaces it, in
  // one step. Deleting the old one first would lose it whenever the rename then failed
  // (a reader holding it with delete sharing leaves it delete-pending, not gone).
  const std::wstring staged = file + L".new";
  if (ResultChain written = WriteWholeFile(staged, bytes); written.Failed()) {
    ::DeleteFileW(LongPathForm(staged).c_str());
    return KV_MARK(written);
  }
  ClearProtectiveAttributes(file);
  if (ResultChain replaced = ReplaceWithStaged(staged, file); replaced.Failed()) {
    ::DeleteFileW(LongPathForm(staged).c_str());
    return KV_MARK(replaced);
  }
  return {};
}

}  // namespace kv
