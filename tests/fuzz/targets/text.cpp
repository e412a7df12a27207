// The text decoder: any bytes decode or fail cleanly; UTF-16 text matches a model of the
// units, and UTF-8 and code page 1252 text encode back to the bytes they came from.
#include <algorithm>

#include "FuzzInput.h"
#include "foundation/TextEncoding.h"

namespace {

// Units up to the first zero, byte-swapped after a leading U+FFFE, without U+FEFF.
std::wstring ModelUtf16(std::wstring units) {
  units.resize(std::min(units.size(), units.find(L'\0')));
  if (!units.empty() && units.front() == L'\xFFFE') {
    for (wchar_t& unit : units) unit = static_cast<wchar_t>(((unit & 0xFF) << 8) | (unit >> 8));
  }
  units.erase(std::remove(units.begin(), units.end(), L'\xFEFF'), units.end());
  return units;
}

// The bytes up to the first zero, without `removed` anywhere.
std::string CutAndRemove(std::string_view bytes, std::string_view removed) {
  std::string cut(bytes.substr(0, bytes.find('\0')));
  for (std::size_t at; !removed.empty() && (at = cut.find(removed)) != std::string::npos;) cut.erase(at, removed.size());
  return cut;
}

std::string Encoded(const std::wstring& text, unsigned codePage) {
  std::string bytes;
  FUZZ_CHECK(!kv::WideToNarrow(text, codePage, 0, bytes).Failed());
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput input(data, size);
  const bool japanese = UseAnsiCodePageOf(input.Byte());
  const std::string_view bytes = input.Rest();

  std::wstring text = L"stale";
  kv::ResultChain kinds;
  const kv::ResultChain result = kv::DecodeText(bytes, text, &kinds);
  if (bytes.empty()) {
    FUZZ_CHECK(!result.Failed() && text.empty() && kinds.Count() == 0);
    return 0;
  }
  FUZZ_CHECK(kinds.Codes().front() == kv::StrTypeAnsi);

  // The same bytes as UTF-16 units handed over directly, where a leading U+FFFE
  // (big-endian) counts.
  const std::wstring units = FuzzInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()).RestAsUnits();
  const std::wstring model = ModelUtf16(units);
  std::wstring direct = L"stale";
  kv::ResultChain directKinds;
  FUZZ_CHECK(!kv::DecodeUtf16(units.data(), units.size(), direct, &directKinds).Failed());
  FUZZ_CHECK(direct == model && directKinds.Codes().front() == kv::StrTypeUnknown);

  if (result.Failed()) {
    FUZZ_CHECK(text.empty());
    return 0;
  }
  FUZZ_CHECK(text.find(L'\0') == std::wstring::npos && text.find(L'\xFEFF') == std::wstring::npos);

  const bool utf16 = bytes.size() >= 3 && bytes.size() % 2 == 0 && bytes.substr(0, 2) == "\xFF\xFE";
  const bool utf8 = !utf16 && bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF";
  if (utf16) FUZZ_CHECK(text == model);
  if (utf8 && !text.empty()) FUZZ_CHECK(Encoded(text, CP_UTF8) == CutAndRemove(bytes, "\xEF\xBB\xBF"));
  if (!utf16 && !utf8 && !japanese && !text.empty()) FUZZ_CHECK(Encoded(text, CP_ACP) == CutAndRemove(bytes, {}));
  return 0;
}
