#include "defset/SetOrigin.h"

#include <windows.h>

#include "config/IniDocument.h"
#include "defset/DefinitionManifest.h"
#include "defset/FileTransfer.h"
#include "foundation/TextEncoding.h"

namespace kv::refengine {

namespace {

constexpr wchar_t kOriginSection[] = L"Origin";

}  // namespace

SetOrigin ReadOrigin(const std::wstring& folder) {
  std::string bytes;
  IniDocument document;
  if (ReadWholeFile(folder + L"\\" + kOriginName, bytes).Failed() || document.ParseBytes(bytes).Failed()) return {};
  SetOrigin origin;
  origin.url = document.GetString(L"Url", {}, kOriginSection);
  origin.validators.etag = document.GetString(L"ETag", {}, kOriginSection);
  origin.validators.lastModified = document.GetString(L"LastModified", {}, kOriginSection);
  return origin;
}

std::string OriginBytes(const SetOrigin& origin) {
  IniDocument document;
  (void)document.SetString(L"Url", origin.url, kOriginSection);  // setters always succeed
  (void)document.SetString(L"ETag", origin.validators.etag, kOriginSection);
  (void)document.SetString(L"LastModified", origin.validators.lastModified, kOriginSection);
  std::string bytes = "\xEF\xBB\xBF";
  std::string text;
  (void)WideToNarrow(document.ToText(), CP_UTF8, 0, text);  // a lone surrogate: no origin, fetched afresh
  return bytes + text;
}

}  // namespace kv::refengine
