// TextToNumber and SplitAtAny: numbers read as the Windows runtime reads them, with
// out-of-range and digit-less text giving the default; splitting loses no unit.
#include "FuzzInput.h"
#include "config/IniText.h"

namespace {

constexpr std::uint32_t kDefault = 0xDEFA017;

void CheckSplit(const std::wstring& text, const std::wstring& delimiters) {
  const std::vector<std::wstring> pieces = kv::SplitAtAny(text, delimiters);
  if (text.empty()) {
    FUZZ_CHECK(pieces.empty());
    return;
  }
  // The pieces joined with the delimiters met in the text give the text back.
  std::wstring joined;
  std::size_t next = 0;
  for (wchar_t unit : text) {
    if (delimiters.find(unit) == std::wstring::npos) continue;
    FUZZ_CHECK(next + 1 < pieces.size());
    joined += pieces[next++];
    joined += unit;
  }
  FUZZ_CHECK(next + 1 == pieces.size());
  joined += pieces.back();
  FUZZ_CHECK(joined == text);
  for (const std::wstring& piece : pieces) FUZZ_CHECK(piece.find_first_of(delimiters) == std::wstring::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput input(data, size);
  const std::uint8_t control = input.Byte();
  const int radix = control % 3 == 0 ? 0 : (control % 3 == 1 ? 10 : 16);
  const std::wstring units = input.RestAsUnits();
  const std::size_t split = std::min<std::size_t>((control >> 2) % 12, units.size());
  CheckSplit(units.substr(split), units.substr(0, split));

  const std::wstring& text = units;
  const std::uint32_t number = kv::TextToNumber(&kvshim::WindowsWcstoul, text, kDefault, radix);
  if (text.empty()) FUZZ_CHECK(number == kDefault);
  // What follows the digits does not count.
  FUZZ_CHECK(kv::TextToNumber(&kvshim::WindowsWcstoul, text + L'\x1', kDefault, radix) == number);
  // Plain decimal digits: their value, or the default beyond 32 bits.
  if (radix == 10 && !text.empty() && text.size() <= 30 &&
      text.find_first_not_of(L"0123456789") == std::wstring::npos) {
    unsigned long long value = 0;
    for (wchar_t digit : text) value = std::min(value * 10 + static_cast<unsigned>(digit - L'0'), 1ull << 40);
    FUZZ_CHECK(number == (value > 0xFFFFFFFFull ? kDefault : value));
  }
  return 0;
}
