#include "config/IniDocument.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/ResultAssertions.h"

namespace kv {
namespace {

using namespace std::string_literals;

struct TextCase {
  const char* topic;
  std::wstring input;
  std::wstring expected;
};

std::string Printable(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) {
    if (c == L'\n') out += "\\n";
    else if (c == L'\r') out += "\\r";
    else if (c >= 0x20 && c < 0x7F) out += static_cast<char>(c);
    else out += "\\u" + std::to_string(static_cast<unsigned>(c));
  }
  return out;
}

void ExpectNormalised(const std::vector<TextCase>& cases) {
  for (const TextCase& c : cases) {
    IniDocument doc;
    EXPECT_OK(doc.Parse(c.input));
    EXPECT_EQ(doc.ToText(), c.expected) << c.topic << ": input '" << Printable(c.input) << "'";
    EXPECT_EQ(doc.DefaultSection(), L"Setting") << c.topic;
  }
}

TEST(IniDocumentText, EmptyBlankAndComments) {
  ExpectNormalised({
      {"empty", L"", L""},
      {"blank lines", L"\n\n\r\n\r", L""},
      {"comments", L";c\n;d=1\n", L""},
      {"comment in section", L"[S]\n;k=v\n", L""},
      {"hash is no comment", L"[S]\n#k=v", L"[S]\n#k=v\n\n"},
      {"indented semicolon is no comment", L"[S]\n ;k=v", L"[S]\n ;k=v\n\n"},
      {"line without equals", L"[S]\nnoequals\nk=v", L"[S]\nk=v\n\n"},
  });
}

TEST(IniDocumentText, SectionHeaders) {
  ExpectNormalised({
      {"key before any header", L"k=v", L"[Setting]\nk=v\n\n"},
      {"rest of header line ignored", L"[A]x=1\n", L""},
      {"rest of header line ignored, later key kept", L"[A]x=1\ny=2", L"[A]\ny=2\n\n"},
      {"open bracket without close is a key", L"[A=1", L"[Setting]\n[A=1\n\n"},
      {"empty name first: keys ignored", L"[]\nk=v", L""},
      {"empty name later: section left out", L"[S]\na=1\n[]\nk=v\n", L"[S]\na=1\n\n"},
      {"names not trimmed", L"[ A ]\nk=v", L"[ A ]\nk=v\n\n"},
      {"indented header is no header", L" [A]\nk=v", L"[Setting]\nk=v\n\n"},
      {"header alone creates nothing", L"[A]\n[B]\nk=v\n", L"[B]\nk=v\n\n"},
      {"name ends at first close", L"[a]]\nk=v", L"[a]\nk=v\n\n"},
      {"sections in order of creation", L"[z]\nk=1\n[a]\nk=2", L"[z]\nk=1\n\n[a]\nk=2\n\n"},
      {"non-ASCII names kept", L"[\x8A2D\x5B9A]\n\x30AD\x30FC=\x5024", L"[\x8A2D\x5B9A]\n\x30AD\x30FC=\x5024\n\n"},
  });
}

TEST(IniDocumentText, CaseRulesAndMerging) {
  ExpectNormalised({
      {"repeated key keeps first case, last value", L"[S]\nK=1\nk=2", L"[S]\nK=2\n\n"},
      {"repeated key lower first", L"[S]\nb=2\nB=3", L"[S]\nb=3\n\n"},
      {"headers merge into first", L"[a]\nx=1\n[A]\ny=2", L"[a]\nx=1\ny=2\n\n"},
      {"merge keeps place of first", L"[a]\nx=1\n[b]\nz=3\n[A]\ny=2", L"[a]\nx=1\ny=2\n\n[b]\nz=3\n\n"},
      {"default section merges with header", L"k=1\n[setting]\nj=2", L"[Setting]\nj=2\nk=1\n\n"},
      {"key case across merged headers", L"[a]\nKey=1\n[A]\nKEY=2", L"[a]\nKey=2\n\n"},
  });
}

TEST(IniDocumentText, KeyOrder) {
  ExpectNormalised({
      {"capitals first", L"[S]\nb=2\na=1\nC=3", L"[S]\nC=3\na=1\nb=2\n\n"},
      {"ordinal, not alphabetic", L"[S]\nalpha=1\nZeta=2", L"[S]\nZeta=2\nalpha=1\n\n"},
      {"underscore between capitals and small", L"[S]\na=1\n_=2\nZ=3", L"[S]\nZ=3\n_=2\na=1\n\n"},
      {"empty key first", L"[S]\nb=1\n=2", L"[S]\n=2\nb=1\n\n"},
      {"prefix before longer", L"[S]\nab=1\na=2", L"[S]\na=2\nab=1\n\n"},
  });
}

TEST(IniDocumentText, KeysAndValues) {
  ExpectNormalised({
      {"equals in value", L"[S]\nk=a=b", L"[S]\nk=a=b\n\n"},
      {"leading blank in key", L"[S]\n k=v", L"[S]\n k=v\n\n"},
      {"nothing trimmed", L"[S]\nk = v ", L"[S]\nk = v \n\n"},
      {"empty key", L"[S]\n=v", L"[S]\n=v\n\n"},
      {"closing bracket in value", L"[S]\nk=]", L"[S]\nk=]\n\n"},
  });
}

TEST(IniDocumentText, EmptyValues) {
  ExpectNormalised({
      {"empty value left out", L"[S]\nk=\nj=1", L"[S]\nj=1\n\n"},
      {"only key empty: header stays", L"[S]\nk=", L"[S]\n\n"},
      {"value emptied later", L"[S]\nk=1\nk=", L"[S]\n\n"},
      {"empty section between", L"[A]\nk=\n[B]\nj=1", L"[A]\n\n[B]\nj=1\n\n"},
  });
}

TEST(IniDocumentText, LineEnds) {
  const std::wstring expected = L"[S]\na=1\nb=2\n\n";
  ExpectNormalised({
      {"CR only", L"[S]\ra=1\rb=2", expected},
      {"LF only", L"[S]\na=1\nb=2\n", expected},
      {"CR LF", L"[S]\r\na=1\r\nb=2\r\n", expected},
      {"mixed", L"[S]\n\r\r\na=1\rb=2\n\r", expected},
      {"CR ends a value", L"[S]\na=1\rb\nb=2", expected},
  });
}

TEST(IniDocument, DefaultSectionIsRestoredAfterParse) {
  IniDocument doc;
  (void)doc.SetDefaultSection(L"Other");
  EXPECT_EQ(doc.DefaultSection(), L"Other");
  (void)doc.Parse(L"[A]\nk=v\n");
  EXPECT_EQ(doc.DefaultSection(), L"Setting");
  (void)doc.SetDefaultSection(L"A");
  EXPECT_EQ(doc.GetString(L"K"), L"v");
  (void)doc.Clear();
  EXPECT_EQ(doc.DefaultSection(), L"Setting");
  EXPECT_TRUE(doc.Sections().empty());
}

TEST(IniDocument, ConstructionFromTextParses) {
  IniDocument doc(L"k=1\n[B]\nx=2");
  EXPECT_EQ(doc.GetString(L"k"), L"1");
  EXPECT_EQ(doc.GetString(L"X", L"", L"b"), L"2");
  EXPECT_EQ(doc.DefaultSection(), L"Setting");
}

TEST(IniDocument, GetStringGivesDefaultForMissingOrEmpty) {
  IniDocument doc(L"[S]\nfull=x\nempty=\n");
  EXPECT_EQ(doc.GetString(L"FULL", L"d", L"s"), L"x");
  EXPECT_EQ(doc.GetString(L"empty", L"d", L"S"), L"d");
  EXPECT_EQ(doc.GetString(L"missing", L"d", L"S"), L"d");
  EXPECT_EQ(doc.GetString(L"full", L"d", L"Nowhere"), L"d");
  EXPECT_EQ(doc.GetString(L"full", L"d"), L"d");  // default section "Setting"
}

TEST(IniDocument, ReadOfMissingSectionAppendsInvisibleSection) {
  IniDocument doc(L"[A]\na=1\n");
  const std::wstring before = doc.ToText();
  EXPECT_EQ(doc.GetString(L"x", L"", L"B"), L"");
  ASSERT_EQ(doc.Sections().size(), 2u);
  EXPECT_EQ(doc.Sections()[1].Name(), L"B");
  EXPECT_EQ(doc.ToText(), before);
  // A section first touched by a read keeps that place when filled later.
  (void)doc.SetString(L"c", L"3", L"C");
  (void)doc.SetString(L"b", L"2", L"b");
  EXPECT_EQ(doc.ToText(), L"[A]\na=1\n\n[B]\nb=2\n\n[C]\nc=3\n\n");
}

TEST(IniDocument, SetStringReplacesMatchingKeyKeepingItsCase) {
  IniDocument doc;
  (void)doc.SetString(L"ProxyUser", L"a", L"Setting");
  (void)doc.SetString(L"PROXYUSER", L"b", L"SETTING");
  (void)doc.SetString(L"Other", L"c");
  ASSERT_EQ(doc.Sections().size(), 1u);
  EXPECT_EQ(doc.ToText(), L"[Setting]\nOther=c\nProxyUser=b\n\n");
  (void)doc.SetString(L"proxyuser", L"");
  EXPECT_EQ(doc.GetString(L"ProxyUser", L"none"), L"none");
  EXPECT_EQ(doc.ToText(), L"[Setting]\nOther=c\n\n");
  ASSERT_EQ(doc.Sections()[0].GetEntries().size(), 2u);
}

TEST(IniDocument, SetBoolStoresTheByteValue) {
  IniDocument doc;
  (void)doc.SetBool(L"On", true, L"S");
  (void)doc.SetBool(L"Off", false, L"S");
  (void)doc.SetBool(L"Two", 2, L"S");
  EXPECT_EQ(doc.GetString(L"On", L"", L"S"), L"1");
  EXPECT_EQ(doc.GetString(L"Off", L"", L"S"), L"0");
  EXPECT_EQ(doc.GetString(L"Two", L"", L"S"), L"2");
}

struct IntCase {
  std::wstring value;
  int radix;
  std::uint32_t expected;
};

TEST(IniDocument, GetIntReadsWithRadix) {
  constexpr std::uint32_t kDefault = 24;
  const std::vector<IntCase> cases = {
      {L"0x1F", 0, 31},     {L"017", 0, 15},   {L"12abc", 0, 12},        {L"abc", 0, kDefault},
      {L"4294967296", 0, kDefault},            {L"-1", 0, 0xFFFFFFFFu},  {L"", 0, kDefault},
      {L"017", 10, 17},     {L"0x1F", 10, 0},  {L"09", 10, 9},
  };
  for (const IntCase& c : cases) {
    IniDocument doc;
    (void)doc.SetString(L"N", c.value, L"S");
    EXPECT_EQ(doc.GetInt(L"n", kDefault, c.radix, L"s"), c.expected) << Printable(c.value) << " radix " << c.radix;
  }
  IniDocument doc;
  EXPECT_EQ(doc.GetInt(L"Missing", kDefault), kDefault);
}

TEST(IniDocument, ToTextFilterIsExactAndRenames) {
  IniDocument doc(L"[A]\nk=1\n[b]\nj=2\n");
  EXPECT_EQ(doc.ToText(L"a"), L"");
  EXPECT_EQ(doc.ToText(L"A"), L"[A]\nk=1\n\n");
  EXPECT_EQ(doc.ToText(L"A", L"B"), L"[B]\nk=1\n\n");
  EXPECT_EQ(doc.ToText(L"b", L"Z"), L"[Z]\nj=2\n\n");
  // A new name without a filter changes nothing.
  EXPECT_EQ(doc.ToText(L"", L"B"), L"[A]\nk=1\n\n[b]\nj=2\n\n");
}

TEST(IniDocument, CopiesAreIndependent) {
  IniDocument original(L"[S]\nk=1\n");
  IniDocument copy = original;
  (void)copy.SetString(L"K", L"2", L"s");
  (void)copy.SetString(L"new", L"3", L"T");
  EXPECT_EQ(original.ToText(), L"[S]\nk=1\n\n");
  EXPECT_EQ(copy.ToText(), L"[S]\nk=2\n\n[T]\nnew=3\n\n");
  original = copy;
  EXPECT_EQ(original.GetString(L"NEW", L"", L"t"), L"3");
}

}  // namespace
}  // namespace kv
