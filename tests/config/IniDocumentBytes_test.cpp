#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/ResultAssertions.h"
#include "support/WinTestUtil.h"
#include "config/IniDocument.h"
#include "foundation/ErrorCodes.h"

namespace kv {
namespace {

using namespace std::string_literals;

// UTF-16LE bytes of a wide text, without a mark.
std::string Utf16Bytes(const std::wstring& text) {
  std::string bytes;
  for (wchar_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>((c >> 8) & 0xFF);
  }
  return bytes;
}

struct BytesCase {
  const char* topic;
  std::string bytes;
  std::wstring expected;
};

TEST(IniDocumentBytes, DecodesAndCutsAtEmbeddedZero) {
  const std::vector<BytesCase> cases = {
      {"ANSI", "[S]\r\nk=v\r\n", L"[S]\nk=v\n\n"},
      {"UTF-16LE with mark", "\xFF\xFE"s + Utf16Bytes(L"[S]\nk=\x65E5\x672C"), L"[S]\nk=\x65E5\x672C\n\n"},
      {"UTF-8 with mark", "\xEF\xBB\xBF[S]\nk=\xE6\x97\xA5"s, L"[S]\nk=\x65E5\n\n"},
      {"ANSI cut at zero", "[S]\na=1\0b=2\n"s, L"[S]\na=1\n\n"},
      {"ANSI cut at zero inside a line", "[S]\na=12\0" "34\n"s, L"[S]\na=12\n\n"},
      {"UTF-16LE cut at zero", "\xFF\xFE"s + Utf16Bytes(L"[S]\na=1\0b=2"s), L"[S]\na=1\n\n"},
      {"UTF-8 cut at zero", "\xEF\xBB\xBF[S]\na=1\0b=2"s, L"[S]\na=1\n\n"},
      {"zero first", "\0[S]\na=1"s, L""},
      {"mark only", "\xEF\xBB\xBF", L""},
      {"CR only", "[S]\ra=1\rb=2", L"[S]\na=1\nb=2\n\n"},
  };
  for (const BytesCase& c : cases) {
    IniDocument doc;
    EXPECT_OK(doc.ParseBytes(c.bytes)) << c.topic;
    EXPECT_EQ(doc.ToText(), c.expected) << c.topic;
    EXPECT_EQ(doc.DefaultSection(), L"Setting") << c.topic;
  }
}

TEST(IniDocumentBytes, AnsiUsesTheSystemCodePage) {
  if (GetACP() != 1252) GTEST_SKIP() << "needs code page 1252";
  IniDocument doc;
  EXPECT_OK(doc.ParseBytes("[S]\nk=\xE9"s));
  EXPECT_EQ(doc.GetString(L"K", L"", L"s"), L"\x00E9");
}

TEST(IniDocumentBytes, NoBytesFailWithInvalidBufferAndClear) {
  IniDocument doc(L"[S]\nk=v\n");
  (void)doc.SetDefaultSection(L"S");
  const ResultChain result = doc.ParseBytes(std::string());
  EXPECT_EQ(result.Last(), err::InvalidBuffer);
  EXPECT_TRUE(doc.Sections().empty());
  EXPECT_EQ(doc.DefaultSection(), L"Setting");
}

TEST(IniDocumentBytes, UndecodableBytesFailAndLeaveTheDocumentEmpty) {
  IniDocument doc(L"[S]\nk=v\n");
  const ResultChain result = doc.ParseBytes("\xEF\xBB\xBF[S]\nk=\xFF\xFE\xFD"s);
  EXPECT_EQ(result.Last(), static_cast<ErrorCode>(ERROR_NO_UNICODE_TRANSLATION));
  EXPECT_GE(result.Count(), 2u);  // the decoder's chain plus this place
  EXPECT_TRUE(doc.Sections().empty());
  EXPECT_EQ(doc.ToText(), L"");
}

class LoadIniFileTest : public ::testing::Test {
 protected:
  void SetUp() override { folder_ = test::FreshFolder(L"kv_ini_load"); }
  void TearDown() override { test::RemoveTree(folder_); }
  std::wstring folder_;
};

TEST_F(LoadIniFileTest, LoadsAFile) {
  const std::wstring path = folder_ + L"\\Kestravondal.ini";
  ASSERT_TRUE(test::WriteFileBytes(path, "\xEF\xBB\xBF[Kestravondal]\r\nUpdateTime=05:30\r\n"));
  IniDocument doc;
  (void)doc.SetDefaultSection(L"Kestravondal");
  EXPECT_OK(LoadIniFile(path, doc));
  EXPECT_EQ(doc.DefaultSection(), L"Setting");
  EXPECT_EQ(doc.GetString(L"updatetime", L"", L"KESTRAVONDAL"), L"05:30");
}

TEST_F(LoadIniFileTest, MissingEmptyOrUndecodableFilesLeaveTheDocumentCleared) {
  const std::wstring empty = folder_ + L"\\empty.ini";
  const std::wstring bad = folder_ + L"\\bad.ini";
  ASSERT_TRUE(test::WriteFileBytes(empty, ""));
  ASSERT_TRUE(test::WriteFileBytes(bad, "\xEF\xBB\xBF\xC3\x28"));
  for (const std::wstring& path : {folder_ + L"\\missing.ini", empty, bad}) {
    IniDocument doc(L"[S]\nk=v\n");
    (void)doc.SetDefaultSection(L"S");
    EXPECT_OK(LoadIniFile(path, doc));
    EXPECT_TRUE(doc.Sections().empty());
    EXPECT_EQ(doc.DefaultSection(), L"Setting");
  }
}

TEST_F(LoadIniFileTest, LockedFileLeavesTheDocumentCleared) {
  const std::wstring path = folder_ + L"\\locked.ini";
  ASSERT_TRUE(test::WriteFileBytes(path, "[S]\nk=v\n"));
  HANDLE locked = CreateFileW(path.c_str(), GENERIC_READ, /*dwShareMode=*/0, /*lpSecurityAttributes=*/nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, /*hTemplateFile=*/nullptr);
  ASSERT_NE(locked, INVALID_HANDLE_VALUE);
  IniDocument doc(L"[T]\nj=1\n");
  EXPECT_OK(LoadIniFile(path, doc));
  CloseHandle(locked);
  EXPECT_TRUE(doc.Sections().empty());
}

}  // namespace
}  // namespace kv
