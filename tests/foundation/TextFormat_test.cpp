#include "foundation/TextFormat.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace kv {
namespace {

TEST(FormatText, WideStringsAndUpperCaseHex) {
  EXPECT_EQ(FormatText(L"0x%X:%s", 0x385A0002u, L"InvalidNextTime"), L"0x385A0002:InvalidNextTime");
  EXPECT_EQ(FormatText(L"Line(%d)", 57), L"Line(57)");
  EXPECT_EQ(FormatText(L"%s\\Kv_%04d_%02d.txt", L"C:\\log", 2026, 3), L"C:\\log\\Kv_2026_03.txt");
}

TEST(FormatText, GrowsPastTheFirstBuffer) {
  for (size_t length : {254u, 255u, 256u, 257u, 5000u, 100000u}) {
    const std::wstring long_text(length, L'x');
    EXPECT_EQ(FormatText(L"[%s]", long_text.c_str()), L"[" + long_text + L"]") << length;
  }
}

TEST(FormatText, NothingProducedGivesEmptyText) {
  EXPECT_EQ(FormatText(L""), L"");
  EXPECT_EQ(FormatText(L"%s", L""), L"");
}

TEST(ReplaceAll, ScansOnAfterEachReplacement) {
  struct Case {
    const wchar_t* text;
    const wchar_t* find;
    const wchar_t* replacement;
    const wchar_t* expected;
  } cases[] = {
      {L"a\nb\n", L"\n", L",", L"a,b,"},
      {L"aaa", L"a", L"aa", L"aaaaaa"},  // a replacement holding the text to find must not loop
      {L"abc", L"", L"x", L"abc"},
      {L"\r\n\r\n", L"\r", L"", L"\n\n"},
      {L"xyxyx", L"xyx", L"-", L"-yx"},
      {L"", L"a", L"b", L""},
  };
  for (const Case& c : cases) EXPECT_EQ(ReplaceAll(c.text, c.find, c.replacement), c.expected) << c.text;
}

class FormatCodeTextTest : public ::testing::Test {
 protected:
  void SetUp() override { saved_ = CurrentMessageLanguage(); }
  void TearDown() override { CurrentMessageLanguage() = saved_; }
  MessageLanguage saved_;
};

TEST_F(FormatCodeTextTest, ModesSetTheLanguage) {
  FormatCodeText(0, 1);
  EXPECT_FALSE(CurrentMessageLanguage().japanese);
  EXPECT_FALSE(CurrentMessageLanguage().chinese);
  EXPECT_EQ(CurrentMessageLanguage().languageId, 1033u);

  FormatCodeText(0, 2);
  EXPECT_TRUE(CurrentMessageLanguage().japanese);
  EXPECT_EQ(CurrentMessageLanguage().languageId, 1041u);

  FormatCodeText(0, 3);  // Chinese keeps the identifier
  EXPECT_TRUE(CurrentMessageLanguage().chinese);
  EXPECT_FALSE(CurrentMessageLanguage().japanese);
  EXPECT_EQ(CurrentMessageLanguage().languageId, 1041u);

  FormatCodeText(0, 0);  // mode 0 keeps everything
  EXPECT_TRUE(CurrentMessageLanguage().chinese);

  FormatCodeText(0, -1);
  const LANGID system = ::GetSystemDefaultLangID();
  EXPECT_EQ(CurrentMessageLanguage().japanese, system == 1041);
  EXPECT_EQ(CurrentMessageLanguage().chinese, system == 2052);
  EXPECT_EQ(CurrentMessageLanguage().languageId, system == 1041 ? 1041u : 1033u);
}

TEST_F(FormatCodeTextTest, CodesWithoutThePrefix) {
  EXPECT_EQ(FormatCodeText(LineMarker(42), 1), L"Line(42)");
  const std::wstring access = FormatCodeText(5, 1);
  EXPECT_FALSE(access.empty());
  EXPECT_EQ(access.find(L'\n'), std::wstring::npos);
  EXPECT_EQ(access.find(L"0x"), std::wstring::npos);
}

}  // namespace
}  // namespace kv
