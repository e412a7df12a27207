// The administrator's tool, run as a separate process with its output in files.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "support/ResealedCopy.h"
#include "foundation/TextEncoding.h"
#include "protect/BuildSecret.h"
#include "support/ToolRun.h"
#include "support/WinTestUtil.h"

namespace kv {
namespace {

using test::RunKvtool;
using test::ToolRun;

TEST(Kvtool, ConfigPrintsTheEmbeddedText) {
  const std::wstring folder = test::FreshFolder(L"kv_protect_kvtool");
  const std::string builtin = test::ReadFileBytes(test::ProgramFolder() + L"\\builtin-config.ini");
  std::wstring expected;
  ASSERT_FALSE(DecodeText(builtin, expected).Failed());
  if (!expected.empty() && expected.back() != L'\n') expected += L'\n';

  const ToolRun run = RunKvtool(folder, L"config \"" + test::ProgramFolder() + L"\\Kestravondalsc.exe\"");
  EXPECT_EQ(run.exitCode, 0u) << run.err;
  EXPECT_EQ(run.out, expected);
  test::RemoveTree(folder);
}

TEST(Kvtool, ConfigPrintsTextBeyondTheCodePage) {
  const std::wstring folder = test::FreshFolder(L"kv_protect_kvtool_wide");
  Digest256 secret{};
  ASSERT_TRUE(BuildSecret(secret));
  // UTF-8 with mark: katakana and a character outside the basic plane.
  const std::wstring copy =
      test::ResealedCopy(folder, secret, "\xEF\xBB\xBF[Setting]\nLogFolder=\xE3\x83\xAD\xF0\x9F\x98\x80\n");
  ASSERT_FALSE(copy.empty());
  const ToolRun run = RunKvtool(folder, L"config \"" + copy + L"\"");
  EXPECT_EQ(run.exitCode, 0u) << run.err;
  EXPECT_EQ(run.out, L"[Setting]\nLogFolder=\u30ED\U0001F600\n");
  test::RemoveTree(folder);
}

TEST(Kvtool, FailuresPrintTheChainAndExitNonZero) {
  const std::wstring folder = test::FreshFolder(L"kv_protect_kvtool_fail");
  // A file without resources: the chain names the system's resource error.
  const ToolRun noResources = RunKvtool(folder, L"config \"" + test::ProgramFolder() + L"\\kv_protect_tests.exe\"");
  EXPECT_NE(noResources.exitCode, 0u);
  EXPECT_TRUE(noResources.out.empty());
  EXPECT_NE(noResources.err.find(L"Line("), std::wstring::npos) << noResources.err;

  const ToolRun missing = RunKvtool(folder, L"config \"" + folder + L"\\absent.exe\"");
  EXPECT_NE(missing.exitCode, 0u);
  EXPECT_NE(missing.err.find(L"Line("), std::wstring::npos) << missing.err;

  // Sealed by another build: the digest fails and the chain says so first.
  Digest256 otherSecret{};
  ASSERT_TRUE(BuildSecret(otherSecret));
  otherSecret[5] ^= 0x10;
  const std::wstring foreign = test::ResealedCopy(folder, otherSecret, "[Setting]\nScanDll=a.dll\n");
  ASSERT_FALSE(foreign.empty());
  const ToolRun wrongBuild = RunKvtool(folder, L"config \"" + foreign + L"\"");
  EXPECT_EQ(wrongBuild.exitCode, 1u);
  EXPECT_TRUE(wrongBuild.out.empty());
  EXPECT_EQ(wrongBuild.err.rfind(L"0x617A0054:", 0), 0u) << wrongBuild.err;

  for (const wchar_t* arguments : {L"", L"config", L"nosuchcommand x"}) {
    const ToolRun usage = RunKvtool(folder, arguments);
    const std::wstring label = std::wstring(L"[") + arguments + L"] " + usage.err;
    EXPECT_EQ(usage.exitCode, 2u) << label;
    EXPECT_NE(usage.err.find(L"usage: kvtool"), std::wstring::npos) << label;
  }
  test::RemoveTree(folder);
}

}  // namespace
}  // namespace kv
