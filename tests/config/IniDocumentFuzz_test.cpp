// Arbitrary input must never stop, crash or hang the reader, and what the writer
// produces must read back to the same text. Fixed seeds keep failures reproducible.
#include <clocale>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "config/IniDocument.h"

namespace kv {
namespace {

using namespace std::string_literals;

// The text with every section block that holds nothing but its header removed: such a
// block is written for a section whose values are all empty, and reads back as nothing.
std::wstring DropHeaderOnlyBlocks(const std::wstring& text) {
  std::wstring out;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find(L"\n\n", start);
    const std::size_t stop = end == std::wstring::npos ? text.size() : end + 2;
    const std::wstring block = text.substr(start, stop - start);
    if (block.find(L'\n') != block.size() - 2) out += block;
    start = stop;
  }
  return out;
}

// The value a walk of the sections and keys with IniCompare finds, or nullptr.
const std::wstring* WalkLookup(const IniDocument& doc, const std::wstring& section, const std::wstring& key) {
  for (const IniSection& s : doc.Sections()) {
    if (!IniCompare(s.Name(), section)) continue;
    for (const auto& [k, v] : s.GetEntries()) {
      if (IniCompare(k, key)) return &v;
    }
    return nullptr;
  }
  return nullptr;
}

void ExpectNoMatchingDuplicates(const IniDocument& doc) {
  const auto& sections = doc.Sections();
  for (std::size_t i = 0; i < sections.size(); ++i) {
    for (std::size_t j = i + 1; j < sections.size(); ++j) {
      ASSERT_FALSE(IniCompare(sections[i].Name(), sections[j].Name()));
    }
    const auto& entries = sections[i].GetEntries();
    for (auto a = entries.begin(); a != entries.end(); ++a) {
      for (auto b = std::next(a); b != entries.end(); ++b) ASSERT_FALSE(IniCompare(a->first, b->first));
    }
  }
}

void ExpectStableText(const IniDocument& doc) {
  EXPECT_EQ(doc.DefaultSection(), L"Setting");
  ExpectNoMatchingDuplicates(doc);
  const std::wstring first = doc.ToText();
  const IniDocument second(first);
  const std::wstring secondText = second.ToText();
  EXPECT_EQ(secondText, DropHeaderOnlyBlocks(first));
  EXPECT_EQ(IniDocument(secondText).ToText(), secondText);
}

std::string RandomBytes(std::mt19937& rng) {
  static const std::vector<std::string> pieces = {
      "[", "]", "=", ";", "\r", "\n", "\r\n", "\0"s, "a", "A", "b", "B", "k", " ", "\xFF", "\xFE", "\xEF\xBB\xBF",
      "\xE6\x97\xA5", "[S]\n", "k=v\n", "\x82\xA0"};
  std::string bytes;
  switch (rng() % 4) {
    case 0: bytes = "\xFF\xFE"; break;
    case 1: bytes = "\xEF\xBB\xBF"; break;
    default: break;
  }
  const std::size_t count = rng() % 160;
  for (std::size_t i = 0; i < count; ++i) {
    if (rng() % 4 == 0) {
      bytes += static_cast<char>(rng() & 0xFF);
    } else {
      bytes += pieces[rng() % pieces.size()];
    }
  }
  return bytes;
}

std::wstring RandomText(std::mt19937& rng) {
  static const std::wstring units = L"[]=;\r\n\0aAbBkK \x00DF\x00C4\x00E4\xD800\xDFFF\xFEFF\xFFFF\x3042\x0130\x0131"s;
  std::wstring text;
  const std::size_t count = rng() % 160;
  for (std::size_t i = 0; i < count; ++i) {
    text += rng() % 5 == 0 ? static_cast<wchar_t>(rng() & 0xFFFF) : units[rng() % units.size()];
  }
  return text;
}

TEST(IniDocumentFuzz, ArbitraryBytesParseAndWriteStably) {
  std::mt19937 rng(20261208);
  for (int i = 0; i < 20000; ++i) {
    const std::string bytes = RandomBytes(rng);
    IniDocument doc;
    const ResultChain result = doc.ParseBytes(bytes);
    if (result.Failed()) {
      EXPECT_TRUE(doc.Sections().empty());
      EXPECT_EQ(doc.ToText(), L"");
    }
    ExpectStableText(doc);
    if (HasFatalFailure() || HasFailure()) {
      ADD_FAILURE() << "case " << i;
      return;
    }
  }
}

TEST(IniDocumentFuzz, ArbitraryTextsParseWriteAndLookUpLikeAWalk) {
  std::mt19937 rng(7);
  const std::vector<std::wstring> names = {L"", L"a", L"A", L"k", L"K", L"[", L"\x00C4", L"\x00E4", L"Setting", L"b"};
  for (int i = 0; i < 10000; ++i) {
    IniDocument doc(RandomText(rng));
    ExpectStableText(doc);
    for (int probe = 0; probe < 8; ++probe) {
      const std::wstring section = names[rng() % names.size()];
      const std::wstring key = names[rng() % names.size()];
      const std::wstring effective = section.empty() ? doc.DefaultSection() : section;
      const std::wstring* walked = WalkLookup(doc, effective, key);
      const std::wstring expected = (walked == nullptr || walked->empty()) ? L"?" : *walked;
      EXPECT_EQ(doc.GetString(key, L"?", section), expected);
      if (rng() % 2 == 0) {
        (void)doc.SetString(key, L"v" + std::to_wstring(probe), section);
        const std::wstring* stored = WalkLookup(doc, effective, key);
        ASSERT_NE(stored, nullptr);
        EXPECT_EQ(*stored, L"v" + std::to_wstring(probe));
        ExpectNoMatchingDuplicates(doc);
      }
    }
    if (HasFailure()) {
      ADD_FAILURE() << "case " << i;
      return;
    }
  }
}

TEST(IniDocumentFuzz, SplitAtAnyKeepsEveryUnit) {
  std::mt19937 rng(99);
  for (int i = 0; i < 20000; ++i) {
    const std::wstring text = RandomText(rng);
    const std::wstring delimiters = RandomText(rng).substr(0, rng() % 12);
    const std::vector<std::wstring> pieces = SplitAtAny(text, delimiters);
    if (text.empty()) {
      EXPECT_TRUE(pieces.empty());
      continue;
    }
    // Joining the pieces with the delimiter units found in the text gives it back.
    std::size_t delimiterCount = 0;
    std::wstring joined;
    std::size_t next = 0;
    for (wchar_t c : text) {
      if (delimiters.find(c) == std::wstring::npos) continue;
      ASSERT_LT(next, pieces.size());
      joined += pieces[next++];
      joined += c;
      ++delimiterCount;
    }
    ASSERT_EQ(pieces.size(), delimiterCount + 1);
    joined += pieces.back();
    EXPECT_EQ(joined, text);
    for (const std::wstring& piece : pieces) {
      EXPECT_EQ(piece.find_first_of(delimiters), std::wstring::npos);
    }
  }
}

// Lookups through the index must still agree with a walk after the case-mapping locale
// changes under a document.
TEST(IniDocumentLocale, LookupsFollowALocaleChange) {
  const std::string saved = std::setlocale(LC_CTYPE, nullptr);
  std::setlocale(LC_CTYPE, "C");
  if (IniCompare(L"\x00C4", L"\x00E4")) GTEST_SKIP() << "the C locale folds A-umlaut";
  IniDocument doc;
  (void)doc.SetString(L"\x00E4", L"lower", L"\x00E4");
  (void)doc.SetString(L"\x00C4", L"upper", L"\x00E4");
  (void)doc.SetString(L"k", L"second", L"\x00C4");
  ASSERT_EQ(doc.Sections().size(), 2u);
  const bool switched = std::setlocale(LC_CTYPE, ".1252") != nullptr && IniCompare(L"\x00C4", L"\x00E4");
  if (!switched) {
    std::setlocale(LC_CTYPE, saved.c_str());
    GTEST_SKIP() << "no locale that folds A-umlaut";
  }
  // Key order puts U+00C4 first; list order puts the section named U+00E4 first.
  EXPECT_EQ(doc.GetString(L"\x00E4", L"", L"\x00E4"), L"upper");
  EXPECT_EQ(doc.GetString(L"\x00E4", L"", L"\x00C4"), L"upper");
  EXPECT_EQ(doc.GetString(L"k", L"none", L"\x00C4"), L"none");
  std::setlocale(LC_CTYPE, saved.c_str());
  EXPECT_EQ(doc.GetString(L"k", L"none", L"\x00C4"), L"second");
}

}  // namespace
}  // namespace kv
