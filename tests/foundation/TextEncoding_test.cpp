#include "foundation/TextEncoding.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "foundation/ErrorCodes.h"
#include "support/ResultAssertions.h"

namespace kv {
namespace {

using Kinds = std::vector<ErrorCode>;

std::string Bytes(std::initializer_list<unsigned> values) {
  std::string bytes;
  for (unsigned v : values) bytes.push_back(static_cast<char>(v));
  return bytes;
}

// A decoder failure that carries the system's reason and the place it was found.
void ExpectSystemErrorWithMarker(const ResultChain& chain, ErrorCode system) {
  ASSERT_EQ(chain.Count(), 2u) << ::testing::PrintToString(chain.Codes());
  EXPECT_EQ(chain.Last(), system);
  EXPECT_TRUE(IsLineMarker(chain.Codes()[0]));
}

struct DecodeCase {
  const char* label;
  std::string bytes;
  std::wstring text;
  Kinds kinds;  // stored order
};

// Inputs whose result does not depend on the ANSI code page.
TEST(DecodeText, TableOfMarksAndTerminators) {
  const std::vector<DecodeCase> cases = {
      {"utf16 with mark", Bytes({0xFF, 0xFE, 0x41, 0, 0x42, 0}), L"AB",
       {StrTypeAnsi, StrTypeUnknown, StrTyepBom, StrTypeLittleEndian, StrTypeUTF16, StrTypeUTF16}},
      {"utf16 ends at first zero", Bytes({0xFF, 0xFE, 0x41, 0, 0, 0, 0x42, 0}), L"A",
       {StrTypeAnsi, StrTypeUnknown, StrTyepBom, StrTypeLittleEndian, StrTypeUTF16, StrTypeUTF16}},
      {"utf16 mark alone with a zero unit", Bytes({0xFF, 0xFE, 0, 0}), L"",
       {StrTypeAnsi, StrTypeUnknown, StrTyepBom, StrTypeLittleEndian, StrTypeUTF16, StrTypeUTF16}},
      {"utf16 keeps a lone surrogate", Bytes({0xFF, 0xFE, 0x00, 0xD8, 0x41, 0}), std::wstring(L"\xD800" L"A"),
       {StrTypeAnsi, StrTypeUnknown, StrTyepBom, StrTypeLittleEndian, StrTypeUTF16, StrTypeUTF16}},
      {"utf16 drops inner FEFF", Bytes({0xFF, 0xFE, 0x41, 0, 0xFF, 0xFE, 0x42, 0}), L"AB",
       {StrTypeAnsi, StrTypeUnknown, StrTyepBom, StrTypeLittleEndian, StrTypeUTF16, StrTypeUTF16}},
      {"utf8 with mark", Bytes({0xEF, 0xBB, 0xBF, 0x41}), L"A", {StrTypeAnsi, StrTyepBom, StrTypeUTF8}},
      {"utf8 mark alone", Bytes({0xEF, 0xBB, 0xBF}), L"", {StrTypeAnsi, StrTyepBom, StrTypeUTF8}},
      {"utf8 inner FEFF removed", Bytes({0xEF, 0xBB, 0xBF, 'a', 0xEF, 0xBB, 0xBF, 'b'}), L"ab",
       {StrTypeAnsi, StrTyepBom, StrTypeUTF8}},
      {"utf8 multibyte", Bytes({0xEF, 0xBB, 0xBF, 0xC3, 0xA9, 0xE6, 0x97, 0xA5}), L"\x00E9\x65E5",
       {StrTypeAnsi, StrTyepBom, StrTypeUTF8}},
      {"utf8 ends at first zero", Bytes({0xEF, 0xBB, 0xBF, 'a', 0, 'b'}), L"a", {StrTypeAnsi, StrTyepBom, StrTypeUTF8}},
      {"plain ascii", "key=value\r\n", L"key=value\r\n", {StrTypeAnsi}},
      {"ansi ends at first zero", std::string("ab\0cd", 5), L"ab", {StrTypeAnsi}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    std::wstring text = L"stale";
    ResultChain kinds;
    const ResultChain result = DecodeText(c.bytes, text, &kinds);
    EXPECT_OK(result);
    EXPECT_EQ(text, c.text);
    EXPECT_EQ(kinds.Codes(), c.kinds);
  }
}

TEST(DecodeText, EmptyInputIsEmptyTextWithoutKinds) {
  std::wstring text = L"stale";
  ResultChain kinds;
  EXPECT_FALSE(DecodeText(std::string_view(), text, &kinds).Failed());
  EXPECT_EQ(text, L"");
  EXPECT_EQ(kinds.Count(), 0u);
  EXPECT_FALSE(DecodeText(nullptr, 0, text, &kinds).Failed());
}

TEST(DecodeText, KindListIsOptional) {
  std::wstring text;
  EXPECT_FALSE(DecodeText(Bytes({0xFF, 0xFE, 0x41, 0}), text).Failed());
  EXPECT_EQ(text, L"A");
  EXPECT_FALSE(DecodeText(Bytes({0xEF, 0xBB, 0xBF, 0x41}), text).Failed());
  EXPECT_EQ(text, L"A");
}

TEST(DecodeText, InvalidUtf8FailsWithTheConversionErrorAlone) {
  std::wstring text = L"stale";
  ResultChain kinds;
  const ResultChain result = DecodeText(Bytes({0xEF, 0xBB, 0xBF, 'a', 0xC3, 0x28}), text, &kinds);
  ASSERT_EQ(result.Count(), 1u);
  EXPECT_EQ(result.Last(), static_cast<ErrorCode>(ERROR_NO_UNICODE_TRANSLATION));
  EXPECT_EQ(text, L"");
  EXPECT_EQ(kinds.Codes(), (Kinds{StrTypeAnsi, StrTyepBom, StrTypeUTF8}));
}

TEST(DecodeText, RefusesSizesTheSystemCannotConvertBeforeReading) {
  // Only the first bytes exist: the size check must come before any read.
  const char small[4] = {'\xFF', '\xFE', 'A', 0};
  std::wstring text;
  const ResultChain result = DecodeText(small, static_cast<std::size_t>(INT_MAX) + 2, text);
  EXPECT_EQ(result.Last(), err::SizelimitOver);
  EXPECT_EQ(text, L"");
  EXPECT_EQ(DecodeText(nullptr, 5, text).Last(), err::InvalidArgumentNullPointer);
}

struct Utf16Case {
  const char* label;
  std::vector<wchar_t> units;
  std::wstring text;
  Kinds kinds;
};

TEST(DecodeUtf16, TableOfMarks) {
  const std::vector<Utf16Case> cases = {
      {"little-endian mark", {0xFEFF, L'A'}, L"A",
       {StrTypeUnknown, StrTyepBom, StrTypeLittleEndian, StrTypeUTF16, StrTypeUTF16}},
      {"big-endian mark swaps every unit", {0xFFFE, 0x4100, 0x4200}, L"AB",
       {StrTypeUnknown, StrTyepBom, StrTypeBigEndian, StrTypeUTF16, StrTypeUTF16}},
      {"big-endian ends at first zero", {0xFFFE, 0x4100, 0, 0x4200}, L"A",
       {StrTypeUnknown, StrTyepBom, StrTypeBigEndian, StrTypeUTF16, StrTypeUTF16}},
      {"no mark", {L'A', 0xFEFF, L'B'}, L"AB", {StrTypeUnknown, StrTypeUTF16}},
      {"leading zero", {0, L'A'}, L"", {StrTypeUnknown}},
      {"lone surrogates kept", {0xDC00, 0xD800}, std::wstring(L"\xDC00\xD800"), {StrTypeUnknown, StrTypeUTF16}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    std::wstring text = L"stale";
    ResultChain kinds;
    EXPECT_FALSE(DecodeUtf16(c.units.data(), c.units.size(), text, &kinds).Failed());
    EXPECT_EQ(text, c.text);
    EXPECT_EQ(kinds.Codes(), c.kinds);
  }
}

TEST(NarrowToWide, ConvertsAndReportsInvalidBytesWithoutMarker) {
  std::wstring text = L"stale";
  EXPECT_FALSE(NarrowToWide("", 0, CP_UTF8, MB_ERR_INVALID_CHARS, text).Failed());
  EXPECT_EQ(text, L"");
  const std::string utf8 = Bytes({0xC3, 0xA9, 'x'});
  EXPECT_FALSE(NarrowToWide(utf8.data(), utf8.size(), CP_UTF8, MB_ERR_INVALID_CHARS, text).Failed());
  EXPECT_EQ(text, L"\x00E9x");
  const std::string invalid = Bytes({'a', 0xFF, 'b'});
  const ResultChain result = NarrowToWide(invalid.data(), invalid.size(), CP_UTF8, MB_ERR_INVALID_CHARS, text);
  ASSERT_EQ(result.Count(), 1u);
  EXPECT_EQ(result.Last(), static_cast<ErrorCode>(ERROR_NO_UNICODE_TRANSLATION));
  EXPECT_EQ(text, L"");
}

TEST(WideToNarrow, ExactBytesWithoutTerminator) {
  std::string bytes = "stale";
  EXPECT_FALSE(WideToNarrow(L"", CP_UTF8, 0, bytes).Failed());
  EXPECT_EQ(bytes, "");
  EXPECT_FALSE(WideToNarrow(L"\x00E9z", CP_UTF8, 0, bytes).Failed());
  EXPECT_EQ(bytes, Bytes({0xC3, 0xA9, 'z'}));
}

TEST(WideToNarrow, ReportsDefaultCharacterUse) {
  std::string bytes;
  bool usedDefault = true;
  EXPECT_FALSE(WideToNarrow(L"plain", 1252, 0, bytes, &usedDefault).Failed());
  EXPECT_FALSE(usedDefault);
  EXPECT_FALSE(WideToNarrow(L"a\x65E5", 1252, 0, bytes, &usedDefault).Failed());
  EXPECT_TRUE(usedDefault);
  EXPECT_EQ(bytes.size(), 2u);
  // The UTF-8 converter cannot be asked; the flag then stays false instead of failing.
  usedDefault = true;
  EXPECT_FALSE(WideToNarrow(L"\x65E5", CP_UTF8, 0, bytes, &usedDefault).Failed());
  EXPECT_FALSE(usedDefault);
  EXPECT_EQ(bytes, Bytes({0xE6, 0x97, 0xA5}));
}

TEST(WideToNarrow, InvalidTextFailsWithSystemError) {
  std::string bytes = "stale";
  const ResultChain result = WideToNarrow(std::wstring(L"a\xD800"), CP_UTF8, WC_ERR_INVALID_CHARS, bytes);
  EXPECT_EQ(result.Last(), static_cast<ErrorCode>(ERROR_NO_UNICODE_TRANSLATION));
  EXPECT_EQ(bytes, "");
}

// Wine accepts WC_NO_BEST_FIT_CHARS for UTF-8; Windows refuses it with ERROR_INVALID_FLAGS.
TEST(WideToNarrowFlags, LeavesOutWhatTheCodePageRefuses) {
  constexpr unsigned long kBoth = WC_NO_BEST_FIT_CHARS | WC_ERR_INVALID_CHARS;
  const struct {
    unsigned codePage;
    unsigned long wanted, flags;
  } cases[] = {
      {1252, WC_NO_BEST_FIT_CHARS, WC_NO_BEST_FIT_CHARS}, {932, WC_NO_BEST_FIT_CHARS, WC_NO_BEST_FIT_CHARS},
      {65001, WC_NO_BEST_FIT_CHARS, 0},                   {65001, kBoth, WC_ERR_INVALID_CHARS},
      {54936, kBoth, WC_ERR_INVALID_CHARS},               {50225, kBoth, 0},
      {65000, WC_NO_BEST_FIT_CHARS, 0},                   {42, WC_NO_BEST_FIT_CHARS, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(WideToNarrowFlags(c.codePage, c.wanted), c.flags) << c.codePage;
  EXPECT_EQ(WideToNarrowFlags(CP_ACP, WC_NO_BEST_FIT_CHARS), WideToNarrowFlags(::GetACP(), WC_NO_BEST_FIT_CHARS));
}

TEST(WideToNarrowWithoutBom, DropsEveryMarkThenConverts) {
  std::string bytes;
  EXPECT_FALSE(WideToNarrowWithoutBom(L"\xFEFF" L"a\xFEFF" L"b", bytes).Failed());
  EXPECT_EQ(bytes, "ab");
}

// The ANSI code page paths; each suite runs only where the system uses its code page.
class CodePage1252 : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::GetACP() != 1252) GTEST_SKIP() << "ANSI code page is " << ::GetACP();
  }
};

TEST_F(CodePage1252, DecodesAnsiBytes) {
  const std::vector<DecodeCase> cases = {
      {"western letters", Bytes({'c', 0xE9, 0x80}), L"c\x00E9\x20AC", {StrTypeAnsi}},
      {"FF FE alone is too short for UTF-16", Bytes({0xFF, 0xFE}), L"\x00FF\x00FE", {StrTypeAnsi}},
      {"odd count with FF FE is ANSI", Bytes({0xFF, 0xFE, 0x41, 0, 0x42}), L"\x00FF\x00FE" L"A", {StrTypeAnsi}},
      {"big-endian mark is ANSI", Bytes({0xFE, 0xFF, 0, 0x41}), L"\x00FE\x00FF", {StrTypeAnsi}},
      {"EF BB alone is ANSI", Bytes({0xEF, 0xBB}), L"\x00EF\x00BB", {StrTypeAnsi}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    std::wstring text;
    ResultChain kinds;
    EXPECT_FALSE(DecodeText(c.bytes, text, &kinds).Failed());
    EXPECT_EQ(text, c.text);
    EXPECT_EQ(kinds.Codes(), c.kinds);
  }
}

TEST_F(CodePage1252, RoundTripsWesternText) {
  const std::wstring text = L"Gr\x00FC\x00DF" L"e \x20AC";
  std::string bytes;
  ASSERT_FALSE(WideToNarrowWithoutBom(text, bytes).Failed());
  EXPECT_EQ(bytes, Bytes({'G', 'r', 0xFC, 0xDF, 'e', ' ', 0x80}));
  std::wstring back;
  ASSERT_FALSE(DecodeText(bytes, back).Failed());
  EXPECT_EQ(back, text);
}

TEST_F(CodePage1252, EveryByteIsOneCharacter) {
  // The code page defines every byte, so the ANSI branch cannot meet an invalid one here.
  for (unsigned value = 1; value < 256; ++value) {
    SCOPED_TRACE(value);
    std::wstring text;
    ASSERT_FALSE(DecodeText(std::string(1, static_cast<char>(value)), text).Failed());
    EXPECT_EQ(text.size(), 1u);
  }
}

class CodePage932Text : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::GetACP() != 932) GTEST_SKIP() << "ANSI code page is " << ::GetACP();
  }
};

TEST_F(CodePage932Text, JapaneseTextRoundTrips) {
  // "日本語のテキスト"
  const std::wstring text = L"\x65E5\x672C\x8A9E\x306E\x30C6\x30AD\x30B9\x30C8";
  std::string bytes;
  ASSERT_FALSE(WideToNarrowWithoutBom(L"\xFEFF" + text, bytes).Failed());
  EXPECT_EQ(bytes, Bytes({0x93, 0xFA, 0x96, 0x7B, 0x8C, 0xEA, 0x82, 0xCC, 0x83, 0x65, 0x83, 0x4C, 0x83, 0x58,
                          0x83, 0x67}));
  std::wstring back;
  ResultChain kinds;
  ASSERT_FALSE(DecodeText(bytes, back, &kinds).Failed());
  EXPECT_EQ(back, text);
  EXPECT_EQ(kinds.Codes(), Kinds{StrTypeAnsi});
}

TEST_F(CodePage932Text, InvalidBytesFailWithSystemErrorAndMarker) {
  const std::vector<std::string> invalid = {
      Bytes({'a', 0x82}),           // lead byte without its trail byte
      Bytes({0x93, 0xFA, 0x82}),    // the same after a valid character
  };
  for (const auto& bytes : invalid) {
    std::wstring text = L"stale";
    ResultChain kinds;
    const ResultChain result = DecodeText(bytes, text, &kinds);
    ExpectSystemErrorWithMarker(result, ERROR_NO_UNICODE_TRANSLATION);
    EXPECT_EQ(text, L"");
    EXPECT_EQ(kinds.Codes(), Kinds{StrTypeAnsi});
  }
}

TEST_F(CodePage932Text, MarkedTextIsNotTakenAsShiftJis) {
  // UTF-8 with its mark stays UTF-8 whatever the code page.
  std::wstring text;
  ASSERT_FALSE(DecodeText(Bytes({0xEF, 0xBB, 0xBF, 0xE6, 0x97, 0xA5}), text).Failed());
  EXPECT_EQ(text, L"\x65E5");
}

}  // namespace
}  // namespace kv
