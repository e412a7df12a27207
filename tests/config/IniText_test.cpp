#include "config/IniText.h"

#include <cerrno>
#include <cwchar>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace kv {
namespace {

using namespace std::string_literals;

struct CompareCase {
  std::wstring a;
  std::wstring b;
  bool match;
};

TEST(IniCompare, MatchesSameLengthWithoutRegardToAsciiCase) {
  const std::vector<CompareCase> cases = {
      {L"", L"", true},
      {L"abc", L"ABC", true},
      {L"Setting", L"sETTING", true},
      {L"abc", L"abcd", false},
      {L"abc", L"abd", false},
      {L"a ", L"a", false},
      // Only letters fold: these differ by the case bit but are not letters.
      {L"[", L"{", false},
      {L"@", L"`", false},
      {L"^", L"~", false},
      // Embedded zeros are ordinary units, not ends of text.
      {L"a\0b"s, L"A\0B"s, true},
      {L"a\0b"s, L"a\0c"s, false},
  };
  for (const CompareCase& c : cases) {
    EXPECT_EQ(IniCompare(c.a, c.b), c.match) << "'" << std::string(c.a.begin(), c.a.end()) << "' vs '"
                                             << std::string(c.b.begin(), c.b.end()) << "'";
    EXPECT_EQ(IniCompare(c.b, c.a), c.match);
    EXPECT_EQ(IniFold(c.a) == IniFold(c.b), c.match);
  }
}

struct SplitCase {
  std::wstring text;
  std::wstring delimiters;
  std::vector<std::wstring> pieces;
};

TEST(SplitAtAny, EveryDelimiterUnitEndsAPiece) {
  const std::vector<SplitCase> cases = {
      {L"", L":", {}},
      {L"abc", L":", {L"abc"}},
      {L"a:b", L":", {L"a", L"b"}},
      {L"a:", L":", {L"a", L""}},
      {L":a", L":", {L"", L"a"}},
      {L"::", L":", {L"", L"", L""}},
      {L"a\r\nb", L"\r\n", {L"a", L"", L"b"}},
      {L"a\rb\nc", L"\r\n", {L"a", L"b", L"c"}},
      {L"a,b;c", L",;", {L"a", L"b", L"c"}},
      {L"abc", L"", {L"abc"}},
      {L"x\x3042y", L"\x3042", {L"x", L"y"}},
      {L"a\0b"s, L"\0"s, {L"a", L"b"}},
      // A long delimiter set behaves like a short one.
      {L"a1b22c", L"0123456789", {L"a", L"b", L"", L"c"}},
      {L"k\xFFFFv", L"abcdefghij\xFFFF", {L"k", L"v"}},
  };
  for (const SplitCase& c : cases) {
    EXPECT_EQ(SplitAtAny(c.text, c.delimiters), c.pieces) << std::string(c.text.begin(), c.text.end());
  }
}

struct NumberCase {
  std::wstring text;
  int radix;
  std::uint32_t expected;
};

TEST(TextToNumber, FollowsWcstoulWithDefaultForNothingOrOverflow) {
  constexpr std::uint32_t kDefault = 777;
  const std::vector<NumberCase> cases = {
      {L"", 0, kDefault},
      {L"   ", 0, kDefault},
      {L"abc", 0, kDefault},
      {L"0x1F", 0, 31},
      {L"0X1f", 0, 31},
      {L"017", 0, 15},
      {L"08", 0, 0},
      {L"42", 0, 42},
      {L" 42", 0, 42},
      {L"+7", 0, 7},
      {L"12abc", 0, 12},
      {L"-1", 0, 0xFFFFFFFFu},
      {L"4294967295", 0, 0xFFFFFFFFu},
      {L"4294967296", 0, kDefault},
      {L"99999999999999999999", 0, kDefault},
      {L"0", 0, 0},
      {L"017", 10, 17},
      {L"08", 10, 8},
      {L"0x1F", 10, 0},
      {L"23", 10, 23},
      {L"05:30", 10, 5},
      {L"4294967296", 10, kDefault},
      {L"1F", 16, 31},
      {L"0x1F", 16, 31},
  };
  for (const NumberCase& c : cases) {
    EXPECT_EQ(TextToNumber(&std::wcstoul, c.text, kDefault, c.radix), c.expected)
        << std::string(c.text.begin(), c.text.end()) << " radix " << c.radix;
  }
}

TEST(TextToNumber, ClearsAStaleRangeErrorBeforeConverting) {
  errno = ERANGE;
  EXPECT_EQ(TextToNumber(&std::wcstoul, L"12", 5, 0), 12u);
}

TEST(TextToNumber, UsesTheGivenConverterAndRadix) {
  static int seenRadix = -1;
  const NumberConverter fake = [](const wchar_t* text, wchar_t** end, int radix) -> unsigned long {
    seenRadix = radix;
    *end = const_cast<wchar_t*>(text) + 1;
    return 4242;
  };
  EXPECT_EQ(TextToNumber(fake, L"x", 1, 7), 4242u);
  EXPECT_EQ(seenRadix, 7);
}

}  // namespace
}  // namespace kv
