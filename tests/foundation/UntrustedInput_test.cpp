// Arbitrary bytes and texts through the parsers that read what others wrote: nothing
// may crash, hang or read out of bounds, and every result keeps its invariants.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "foundation/FileSystem.h"
#include "foundation/PathName.h"
#include "foundation/TextEncoding.h"

namespace kv {
namespace {

std::string RandomBytes(std::mt19937& rng, std::size_t maxLength) {
  static const std::vector<std::string> prefixes = {"", "\xFF\xFE", "\xEF\xBB\xBF", "\xFE\xFF", std::string(1, '\0')};
  std::string bytes = prefixes[rng() % prefixes.size()];
  const std::size_t length = rng() % (maxLength + 1);
  for (std::size_t i = 0; i < length; ++i) {
    // Half the bytes from the interesting corners (zeros, marks, lead bytes, surrogates).
    static const unsigned char corners[] = {0x00, 0xFF, 0xFE, 0xEF, 0xBB, 0xBF, 0x81, 0x82, 0x9F,
                                            0xE0, 0xD8, 0xDC, 0xC3, 0x80, 0x5C, 0x2F, 0x2E, 0x41};
    bytes.push_back(static_cast<char>(rng() % 2 ? corners[rng() % sizeof(corners)] : rng() % 256));
  }
  return bytes;
}

std::wstring RandomText(std::mt19937& rng, std::size_t maxTokens) {
  static const std::vector<std::wstring> tokens = {
      L"/", L"\\", L"\\\\", L".", L"..", L"??", L"\\??\\", L"?", L":", L"C:", L"http://", L"https://",
      L"default", L"a", L"name.ext", L"//", std::wstring(1, L'\0'), std::wstring(1, L'\xD800'),
      std::wstring(1, L'\xDC00'), L"\xFEFF", L"\xFFFE", L" ", L"\x65E5", L"*", L"%"};
  std::wstring text;
  const std::size_t count = rng() % (maxTokens + 1);
  for (std::size_t i = 0; i < count; ++i) text += tokens[rng() % tokens.size()];
  return text;
}

void CheckDecoded(const std::string& bytes) {
  std::wstring text = L"stale";
  ResultChain kinds;
  const ResultChain result = DecodeText(bytes, text, &kinds);
  if (result.Failed()) {
    ASSERT_NE(result.Last(), 0u);
    ASSERT_TRUE(text.empty());
  } else {
    ASSERT_EQ(text.find(L'\0'), std::wstring::npos);
    ASSERT_EQ(text.find(L'\xFEFF'), std::wstring::npos);
  }
  ASSERT_EQ(kinds.Contains(StrTypeAnsi), !bytes.empty());
}

void CheckNormalized(const std::wstring& text) {
  const std::wstring once = NormalizePath(text);
  ASSERT_EQ(once.find(L'/'), std::wstring::npos);
  // A UNC root without a server ("\\" alone) becomes "\", which reads as nothing after.
  if (once != L"\\") {
    ASSERT_EQ(NormalizePath(once), once);
  }
  // Only a UNC root keeps a doubled separator, at the start.
  ASSERT_EQ(once.find(L"\\\\", 1), std::wstring::npos);
}

TEST(UntrustedInput, DecodeTextTakesAnyBytes) {
  std::mt19937 rng(20261208);
  for (int i = 0; i < 20000; ++i) {
    const std::string bytes = RandomBytes(rng, 48);
    CheckDecoded(bytes);
    // Every odd and even cut of the same bytes.
    if (bytes.size() > 3) CheckDecoded(bytes.substr(0, bytes.size() - 1));
    if (HasFatalFailure()) return;
  }
}

TEST(UntrustedInput, DecodeTextTakesLargeInputs) {
  std::mt19937 rng(7);
  for (const std::string prefix : {"", "\xFF\xFE", "\xEF\xBB\xBF"}) {
    std::string bytes = prefix;
    for (int i = 0; i < (1 << 20); ++i) bytes.push_back(static_cast<char>(rng() % 256));
    CheckDecoded(bytes);
    bytes.push_back('x');  // odd count
    CheckDecoded(bytes);
  }
  // A large text of plain letters decodes whole.
  const std::string letters(3 << 20, 'k');
  std::wstring text;
  ASSERT_FALSE(DecodeText(letters, text).Failed());
  EXPECT_EQ(text.size(), letters.size());
}

TEST(UntrustedInput, DecodeUtf16TakesAnyUnits) {
  std::mt19937 rng(99);
  for (int i = 0; i < 20000; ++i) {
    std::vector<wchar_t> units(rng() % 40);
    for (auto& unit : units) unit = static_cast<wchar_t>(rng() % 3 ? rng() % 0x10000 : 0xFEFF + rng() % 2);
    std::wstring text;
    ResultChain kinds;
    ASSERT_FALSE(DecodeUtf16(units.data(), units.size(), text, &kinds).Failed());
    ASSERT_LE(text.size(), units.size());
    ASSERT_EQ(text.find(L'\xFEFF'), std::wstring::npos);
  }
}

TEST(UntrustedInput, PathNameAndNormalizePathTakeAnyText) {
  std::mt19937 rng(4242);
  // A base with a folder keeps Set from asking the system for the program path each time.
  const PathName base(L"C:\\base\\file.ext");
  for (int i = 0; i < 20000; ++i) {
    const std::wstring text = RandomText(rng, 12);
    PathName path = base;
    const ResultChain result = path.Set(text);
    // Only the empty text is refused.
    ASSERT_EQ(result.Failed(), text.empty()) << i;
    (void)path.FullPath();
    (void)path.FileName(false);
    PathName full;
    ASSERT_EQ(full.SetFullPath(text).Failed(), text.empty());
    CheckNormalized(text);
    if (HasFatalFailure()) return;
  }
  // A few from an empty start, which resolves the program's folder.
  for (int i = 0; i < 200; ++i) {
    const std::wstring text = RandomText(rng, 6);
    PathName path;
    ASSERT_EQ(path.Set(text).Failed(), text.empty());
  }
}

TEST(UntrustedInput, HugeTexts) {
  std::mt19937 rng(12345);
  std::wstring text;
  while (text.size() < 400000) text += RandomText(rng, 64);
  PathName path(L"C:\\base\\");
  EXPECT_FALSE(path.Set(text).Failed());
  CheckNormalized(text);
  const std::wstring url = L"http://host/" + std::wstring(300000, L'/') + L"a.b";
  EXPECT_FALSE(path.Set(url).Failed());
  EXPECT_EQ(path.FileName(true), L"a.b");
  const std::wstring dots = std::wstring(L"C:") + [] {
    std::wstring s;
    for (int i = 0; i < 50000; ++i) s += L"\\..";
    return s;
  }();
  EXPECT_EQ(NormalizePath(dots), L"C:");
}

}  // namespace
}  // namespace kv
