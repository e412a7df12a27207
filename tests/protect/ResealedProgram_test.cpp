// Copies of the program whose resources are replaced with other sealed texts: what an
// administrator's own configuration looks like to the service and to kvtool.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/ErrorCodes.h"
#include "protect/BuildSecret.h"
#include "support/ResealedCopy.h"
#include "protect/EmbeddedConfig.h"
#include "protect/ResourceFile.h"
#include "support/WinTestUtil.h"

namespace kv {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::ResealedCopy;

Digest256 ThisBuildsSecret() {
  Digest256 secret{};
  EXPECT_TRUE(BuildSecret(secret));
  return secret;
}

TEST(ResealedProgram, TextsInEveryEncodingOpen) {
  const struct {
    const char* label;
    std::string bytes;
    std::wstring text;
  } rows[] = {
      {"plain", "[Setting]\r\nScanDll=Other.dll\r\n", L"[Setting]\r\nScanDll=Other.dll\r\n"},
      {"UTF-8 with mark", "\xEF\xBB\xBF[Setting]\nLogFolder=\xE3\x83\xAD\xE3\x82\xB0\n",
       L"[Setting]\nLogFolder=\u30ED\u30B0\n"},
      {"UTF-16 with mark", std::string("\xFF\xFE[\0S\0]\0\n\0k\0=\0\xED\x30\xB0\x30", 18), L"[S]\nk=\u30ED\u30B0"},
  };
  for (const auto& row : rows) {
    const std::wstring folder = test::FreshFolder(L"kv_protect_resealed");
    const std::wstring copy = ResealedCopy(folder, ThisBuildsSecret(), row.bytes);
    ASSERT_FALSE(copy.empty()) << row.label << " " << ::GetLastError();
    EmbeddedConfig config(copy);
    EXPECT_EQ(config.Text(), row.text) << row.label;
    EXPECT_EQ(config.Text(), row.text) << row.label;
    test::RemoveTree(folder);
  }
}

TEST(ResealedProgram, OtherSecretOrEmptyTextGivesInvalid) {
  Digest256 otherSecret = ThisBuildsSecret();
  otherSecret[0] ^= 0x80;
  const struct {
    const char* label;
    Digest256 secret;
    std::string text;
    ErrorCode failure;  // 0: the read succeeds but yields no text
  } rows[] = {
      {"another build's secret", otherSecret, "[Setting]\nScanDll=x.dll\n", err::NotSameHash},
      {"empty text", ThisBuildsSecret(), "", 0},
  };
  for (const auto& row : rows) {
    const std::wstring folder = test::FreshFolder(L"kv_protect_resealed_bad");
    const std::wstring copy = ResealedCopy(folder, row.secret, row.text);
    ASSERT_FALSE(copy.empty()) << row.label;
    ResourceFile file;
    ASSERT_FALSE(file.Open(copy).Failed()) << row.label;
    Bytes payload{1};
    EXPECT_EQ(file.ProtectedRead(4096, payload).Last(), row.failure) << row.label;
    EXPECT_TRUE(payload.empty()) << row.label;
    EmbeddedConfig config(copy);
    EXPECT_EQ(config.Text(), L"INVALID") << row.label;
    EXPECT_EQ(config.Text(), L"") << row.label;
    test::RemoveTree(folder);
  }
}

TEST(CodePage932ResealedProgram, AnsiTextDecodesInTheSystemCodePage) {
  ASSERT_EQ(::GetACP(), 932u);
  const std::wstring folder = test::FreshFolder(L"kv_protect_resealed_932");
  // "LogFolder=" followed by the two katakana in Shift-JIS.
  const std::wstring copy = ResealedCopy(folder, ThisBuildsSecret(), "[Setting]\nLogFolder=\x83\x8D\x83\x4F\n");
  ASSERT_FALSE(copy.empty());
  EmbeddedConfig config(copy);
  EXPECT_EQ(config.Text(), L"[Setting]\nLogFolder=\u30ED\u30B0\n");
  test::RemoveTree(folder);
}

}  // namespace
}  // namespace kv
