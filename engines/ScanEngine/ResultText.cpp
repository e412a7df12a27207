#include "ResultText.h"

#include <cwchar>

#include "config/IniDocument.h"

namespace kv::refengine {

namespace {

constexpr wchar_t kSection[] = L"ScannerVersion";

}  // namespace

std::wstring ResultText(const UpdateReport& report) {
  IniDocument text;
  // IniDocument's setters always succeed.
  (void)text.SetString(L"EngineVersion", kEngineVersion, kSection);
  (void)text.SetString(L"DefinitionVersion", report.installed.version, kSection);
  (void)text.SetString(L"DefinitionDate", report.installed.date, kSection);
  if (!report.installed.files.empty()) {
    (void)text.SetString(L"DefinitionFiles", std::to_wstring(report.installed.files.size()), kSection);
  }
  (void)text.SetString(L"Source", report.source, kSection);
  // What this update moved: files fetched from the source (and their bytes), and files
  // taken over from the previous set, and how many of those as hard links; fetched files
  // built from chunks the machine had and ranges of the published file.
  if (report.countsKnown) {
    (void)text.SetString(L"FetchedFiles", std::to_wstring(report.counts.fetchedFiles), kSection);
    (void)text.SetString(L"FetchedBytes", std::to_wstring(report.counts.fetchedBytes), kSection);
    (void)text.SetString(L"ReusedFiles", std::to_wstring(report.counts.reusedFiles), kSection);
    (void)text.SetString(L"LinkedFiles", std::to_wstring(report.counts.linkedFiles), kSection);
    (void)text.SetString(L"AssembledFiles", std::to_wstring(report.counts.assembledFiles), kSection);
    (void)text.SetString(L"PatchedFiles", std::to_wstring(report.counts.patchedFiles), kSection);
    (void)text.SetString(L"CompressedFiles", std::to_wstring(report.counts.compressedFiles), kSection);
  }
  if (!report.notBefore.empty()) (void)text.SetString(L"NotBefore", report.notBefore, kSection);
  return text.ToText();
}

std::wstring InitializeText() {
  IniDocument text;
  (void)text.SetString(L"EngineVersion", kEngineVersion, kSection);  // always succeeds
  return text.ToText();
}

void CopyToResultBuffer(const std::wstring& text, wchar_t* buffer, std::uint32_t units) {
  if (buffer == nullptr || units == 0) return;
  const std::size_t n = text.size() < units ? text.size() : units - 1;
  std::wmemcpy(buffer, text.c_str(), n);
  buffer[n] = L'\0';
}

}  // namespace kv::refengine
