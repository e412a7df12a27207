// The definition-set manifest: any bytes are refused with a format failure or give a
// set whose every file name stays inside the destination folder.
#include "FuzzInput.h"
#include "defset/DefinitionManifest.h"
#include "foundation/ErrorCodes.h"

namespace {

// Windows' reserved device names, alone or followed by an extension: CON, PRN, AUX, NUL,
// COM0-9 and LPT0-9, where the superscript digits 1, 2 and 3 count as digits too.
bool IsReservedName(std::wstring_view name) {
  std::wstring stem(name.substr(0, name.find(L'.')));
  for (wchar_t& c : stem) c = (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c;
  if (stem == L"CON" || stem == L"PRN" || stem == L"AUX" || stem == L"NUL") return true;
  const std::wstring_view digits = L"0123456789\x00B9\x00B2\x00B3";
  return stem.size() == 4 && (stem.starts_with(L"COM") || stem.starts_with(L"LPT")) &&
         digits.find(stem[3]) != std::wstring_view::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput input(data, size);
  UseAnsiCodePageOf(input.Byte());
  kv::refengine::DefinitionManifest manifest;
  const kv::ResultChain result = kv::refengine::ParseManifest(input.Rest(), manifest);
  if (result.Failed()) {
    FUZZ_CHECK(result.Contains(kv::err::UncIniInvalidFormat));
    return 0;
  }
  FUZZ_CHECK(!manifest.version.empty());
  FUZZ_CHECK(!manifest.files.empty());
  for (const kv::refengine::ManifestFile& file : manifest.files) {
    FUZZ_CHECK(!file.name.empty() && file.name != L"." && file.name != L"..");
    FUZZ_CHECK(file.name.find_first_of(std::wstring(L"\\/:\0", 4)) == std::wstring::npos);
    FUZZ_CHECK(!IsReservedName(file.name));
  }
  return 0;
}
