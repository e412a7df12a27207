#include "config/IniText.h"

#include <cerrno>
#include <clocale>
#include <cwctype>

namespace kv {
namespace {

// ASCII is folded by hand so that A-Z match a-z whatever the locale says; everything
// else goes through the runtime's locale-aware mapping.
wchar_t FoldUnit(wchar_t c) {
  if (c < 0x80) return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + (L'a' - L'A')) : c;
  return static_cast<wchar_t>(std::towlower(c));
}

// Membership test for a delimiter set; a bitmap keeps long sets linear in the text.
class DelimiterSet {
 public:
  explicit DelimiterSet(std::wstring_view delimiters) : small_(delimiters) {
    if (delimiters.size() > 8) {
      bits_.assign(0x10000, false);
      for (wchar_t c : delimiters) bits_[static_cast<std::uint16_t>(c)] = true;
    }
  }
  bool Contains(wchar_t c) const {
    if (!bits_.empty()) return bits_[static_cast<std::uint16_t>(c)];
    return small_.find(c) != std::wstring_view::npos;
  }

 private:
  std::wstring_view small_;
  std::vector<bool> bits_;
};

}  // namespace

bool IniCompare(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i] && FoldUnit(a[i]) != FoldUnit(b[i])) return false;
  }
  return true;
}

std::wstring IniFold(std::wstring_view text) {
  std::wstring folded(text);
  for (wchar_t& c : folded) c = FoldUnit(c);
  return folded;
}

const char* IniFoldStamp() {
  const char* name = std::setlocale(LC_CTYPE, nullptr);
  return name != nullptr ? name : "";
}

std::vector<std::wstring> SplitAtAny(std::wstring_view text, std::wstring_view delimiters) {
  std::vector<std::wstring> pieces;
  if (text.empty()) return pieces;
  const DelimiterSet set(delimiters);
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (set.Contains(text[i])) {
      pieces.emplace_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  pieces.emplace_back(text.substr(start));
  return pieces;
}

std::uint32_t TextToNumber(NumberConverter converter, const std::wstring& text, std::uint32_t defaultNumber,
                           int radix) {
  if (text.empty() || converter == nullptr) return defaultNumber;
  const wchar_t* start = text.c_str();
  wchar_t* end = nullptr;
  errno = 0;
  const unsigned long value = converter(start, &end, radix);
  if (errno == ERANGE || end == start || end == nullptr) return defaultNumber;
  return static_cast<std::uint32_t>(value);
}

}  // namespace kv
