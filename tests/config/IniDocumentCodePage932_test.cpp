// Settings files without a byte-order mark are read in the system's ANSI code page;
// these run with Wine in code page 932 (Japanese).
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "config/IniDocument.h"
#include "support/ResultAssertions.h"

namespace kv {
namespace {

using namespace std::string_literals;

TEST(CodePage932IniDocument, ShiftJisIsDecodedBeforeLinesAreRead) {
  ASSERT_EQ(GetACP(), 932u);
  // The second bytes of U+30BE (83 5D) and U+8868 (95 5C) are "]" and "\" in ASCII;
  // reading them as text, not bytes, keeps the header and value whole.
  IniDocument doc;
  EXPECT_OK(doc.ParseBytes("[\x83\x5D\x83\x5D]\r\n\x83\x4C\x81\x5B=\x95\x5C\r\n"s));
  EXPECT_EQ(doc.ToText(), L"[\x30BE\x30BE]\n\x30AD\x30FC=\x8868\n\n");
}

TEST(CodePage932IniDocument, InvalidShiftJisLeavesTheDocumentEmpty) {
  ASSERT_EQ(GetACP(), 932u);
  IniDocument doc(L"[S]\nk=v\n");
  // A lead byte with nothing after it.
  const ResultChain result = doc.ParseBytes("[S]\r\nk=\x83"s);
  EXPECT_TRUE(result.Failed());
  EXPECT_TRUE(doc.Sections().empty());
}

}  // namespace
}  // namespace kv
