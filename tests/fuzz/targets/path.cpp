// Path and URL splitting: any text splits into parts that join back to what was given,
// and no part of a name holds a separator.
#include "FuzzInput.h"
#include "foundation/PathName.h"

namespace {

bool StartsWith(std::wstring_view text, std::wstring_view prefix) { return text.substr(0, prefix.size()) == prefix; }

bool IsUrl(std::wstring_view text) {
  return (text.size() > 7 && StartsWith(text, L"http://")) || (text.size() > 8 && StartsWith(text, L"https://"));
}

void CheckExtension(const std::wstring& extension) {
  FUZZ_CHECK(extension.empty() || (extension[0] == L'.' && extension.find(L'.', 1) == std::wstring::npos));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput input(data, size);
  const std::wstring text = input.RestAsUnits();

  const kv::SplitPathParts parts = kv::SplitPath(text);
  FUZZ_CHECK(parts.drive + parts.directory + parts.fileName + parts.extension == text);
  FUZZ_CHECK(parts.fileName.find_first_of(L"\\/") == std::wstring::npos);
  FUZZ_CHECK(parts.directory.empty() || parts.directory.back() == L'\\' || parts.directory.back() == L'/');
  CheckExtension(parts.extension);

  kv::PathName full;
  const kv::ResultChain fullResult = full.SetFullPath(text);
  FUZZ_CHECK(fullResult.Failed() == text.empty());
  if (!text.empty() && text != L"default") FUZZ_CHECK(full.FullPath() == text);

  // From a program folder, as the service resolves its settings' paths.
  kv::PathName path(L"C:\\Kv\\Kestravondalsc.exe");
  const kv::ResultChain result = path.Set(text);
  FUZZ_CHECK(result.Failed() == text.empty());
  if (text.empty()) {
    FUZZ_CHECK(path.IsEmpty());
    return 0;
  }
  CheckExtension(path.Extension());
  if (IsUrl(text)) {
    FUZZ_CHECK(path.FullPath() == text || path.FullPath() == text + L"/");
    FUZZ_CHECK(path.Folder().back() == L'/' && path.Name().find(L'/') == std::wstring::npos);
    return 0;
  }
  FUZZ_CHECK(path.Name().find_first_of(L"\\/") == std::wstring::npos);
  const bool absolute = (text.size() > 2 && StartsWith(text, L"\\\\")) ||
                        (text.size() > 4 && StartsWith(text, L"\\??\\")) || parts.drive.size() == 2;
  if (!absolute && text != L"default") FUZZ_CHECK(StartsWith(path.FullPath(), L"C:\\Kv\\"));
  return 0;
}
