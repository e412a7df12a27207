// kvtool's commands for the administrator: explain, settings, manifest, keygen and sign, each run as a
// separate process with its output in files.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <set>
#include <string>
#include <vector>

#include "config/IniDocument.h"
#include "defset/ChunkIndex.h"
#include "defset/DefinitionManifest.h"
#include "foundation/ResultChain.h"
#include "foundation/TextEncoding.h"
#include "protect/BuildSecret.h"
#include "scan/ScanSession.h"
#include "support/DefinitionSets.h"
#include "support/ResealedCopy.h"
#include "support/ResultAssertions.h"
#include "support/ToolRun.h"
#include "support/WinTestUtil.h"

namespace kv {
namespace {

using test::RunKvtool;
using test::ToolRun;

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

using test::Narrow;

// The lines of a text, without their line ends.
std::vector<std::wstring> Lines(const std::wstring& text) {
  std::vector<std::wstring> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find(L'\n', start);
    if (end == std::wstring::npos) end = text.size();
    std::wstring line = text.substr(start, end - start);
    if (!line.empty() && line.back() == L'\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

// One code as the service writes it into a chain, without the separating comma.
std::wstring ServicePiece(ErrorCode code) {
  std::wstring text = ResultChain(code).ToText();
  if (!text.empty() && text.back() == L',') text.pop_back();
  return text;
}

bool Contains(const std::wstring& text, const std::wstring& part) { return text.find(part) != std::wstring::npos; }

// The text between two headings of the settings output.
std::wstring Block(const std::wstring& text, const std::wstring& from, const std::wstring& to) {
  const std::size_t start = text.find(from);
  if (start == std::wstring::npos) return {};
  const std::size_t end = text.find(to, start);
  return text.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
}

class KvtoolCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override { folder_ = test::FreshFolder(L"kv_tools_commands"); }
  void TearDown() override { test::RemoveTree(folder_); }

  ToolRun Run(const std::wstring& arguments) { return RunKvtool(folder_, arguments); }

  std::wstring folder_;
};

// ---------------------------------------------------------------------------- usage

TEST_F(KvtoolCommandsTest, UsageListsEveryCommandAndExitsTwo) {
  for (const wchar_t* arguments : {L"", L"nosuchcommand", L"--help"}) {
    const ToolRun run = Run(arguments);
    SCOPED_TRACE(Narrow(arguments));
    EXPECT_EQ(run.exitCode, 2u);
    EXPECT_TRUE(run.out.empty());
    for (const wchar_t* command :
         {L"  config ", L"  explain ", L"  settings ", L"  manifest ", L"  keygen ", L"  sign "}) {
      EXPECT_TRUE(Contains(run.err, command)) << Narrow(command) << "\n" << Narrow(run.err);
    }
  }
}

// ---------------------------------------------------------------------------- explain

TEST_F(KvtoolCommandsTest, ExplainReadsALoggedChainRootCauseFirst) {
  for (const wchar_t* value : {L"0x385A0002:InvalidNextTime,Line(57),", L"Result=0x385A0002:InvalidNextTime,Line(57),"}) {
    SCOPED_TRACE(Narrow(value));
    const ToolRun run = Run(L"explain " + Quoted(value));
    EXPECT_EQ(run.exitCode, 0u) << Narrow(run.err);
    const std::vector<std::wstring> lines = Lines(run.out);
    ASSERT_GE(lines.size(), 3u) << Narrow(run.out);
    EXPECT_EQ(lines[0], L"0x385A0002:InvalidNextTime");
    EXPECT_EQ(lines[1], L"Line(57)");
    EXPECT_EQ(lines[2], L"");
    EXPECT_TRUE(Contains(run.out, L"root cause")) << Narrow(run.out);
    EXPECT_TRUE(Contains(run.out, L"Result=0x385A0002:InvalidNextTime,Line(57),\n")) << Narrow(run.out);
  }
}

TEST_F(KvtoolCommandsTest, ExplainGivesMessagesNamesAndSystemTexts) {
  // Hexadecimal with and without 0x, separated by commas and spaces, in the order given.
  const ToolRun run = Run(L"explain \"32880003, 0x2\" 0x20000039,7ec1abcd 3FFF0001");
  EXPECT_EQ(run.exitCode, 0u) << Narrow(run.err);
  const std::vector<std::wstring> lines = Lines(run.out);
  ASSERT_GE(lines.size(), 5u) << Narrow(run.out);
  // A family code with a message-table text.
  EXPECT_EQ(lines[0], L"0x32880003:The definition file is up-to-date.");
  // A system code: the system's own message, as the service writes it.
  EXPECT_EQ(lines[1], ServicePiece(2));
  EXPECT_GT(lines[1].size(), std::wstring(L"0x2:").size()) << "the system has a message for code 2";
  EXPECT_EQ(lines[2], L"Line(57)");
  // Unknown codes: in the engine's family and in a family nobody names.
  EXPECT_EQ(lines[3], L"0x7EC1ABCD:InvalidEnumValue");
  EXPECT_EQ(lines[4], L"0x3FFF0001:InvalidEnumValue");
  EXPECT_TRUE(Contains(run.out, L"Result=0x32880003:The definition file is up-to-date.," + ServicePiece(2) +
                                    L",Line(57),0x7EC1ABCD:InvalidEnumValue,0x3FFF0001:InvalidEnumValue,"))
      << Narrow(run.out);
}

TEST_F(KvtoolCommandsTest, ExplainNamesTheEnginesOwnCodes) {
  // ScanEngine.dll beside kvtool.exe is read by default, or the one --engine names.
  for (const std::wstring& arguments :
       {std::wstring(L"explain 7EC10004"),
        L"explain --engine " + Quoted(test::ProgramFolder() + L"\\ScanEngine.dll") + L" 0x7EC10004"}) {
    SCOPED_TRACE(Narrow(arguments));
    const ToolRun run = Run(arguments);
    EXPECT_EQ(run.exitCode, 0u) << Narrow(run.err);
    EXPECT_EQ(Lines(run.out).at(0), L"0x7EC10004:ManifestUnsafeName") << Narrow(run.out);
    EXPECT_TRUE(Contains(run.out, L"ReferenceEngineBase")) << Narrow(run.out);
  }
  const ToolRun missing = Run(L"explain --engine " + Quoted(folder_ + L"\\NoSuchEngine.dll") + L" 7EC10004");
  EXPECT_NE(missing.exitCode, 0u);
  EXPECT_TRUE(Contains(missing.err, L"NoSuchEngine.dll")) << Narrow(missing.err);
  // One in a folder others may write in is not run to name codes.
  const std::wstring open = folder_ + L"\\open";
  ASSERT_TRUE(::CreateDirectoryW(open.c_str(), nullptr));
  ASSERT_TRUE(::CopyFileW((test::ProgramFolder() + L"\\ScanEngine.dll").c_str(), (open + L"\\ScanEngine.dll").c_str(), TRUE));
  if (!test::LetEveryone(open, true)) GTEST_SKIP() << "this system keeps no folder access lists";
  const ToolRun refused = Run(L"explain --engine " + Quoted(open + L"\\ScanEngine.dll") + L" 7EC10004");
  EXPECT_EQ(refused.exitCode, 1u);
  EXPECT_TRUE(Contains(refused.err, L"0x617A0002:AccessDenied,0x617A0029:InvalidFolder")) << Narrow(refused.err);
}

TEST_F(KvtoolCommandsTest, ExplainKeepsAMessageThatHoldsCommas) {
  const ToolRun run =
      Run(L"explain \"Result=0x2:Some text, with a comma.,Line(40),0x7EBF0058:UncIniNotFound,Line(7),\"");
  EXPECT_EQ(run.exitCode, 0u) << Narrow(run.err);
  const std::vector<std::wstring> lines = Lines(run.out);
  ASSERT_GE(lines.size(), 5u) << Narrow(run.out);
  EXPECT_EQ(lines[0], ServicePiece(2));
  EXPECT_EQ(lines[1], L"    (the log says: Some text, with a comma.)");
  EXPECT_EQ(lines[2], L"Line(40)");
  EXPECT_EQ(lines[3], L"0x7EBF0058:UncIniNotFound");
  EXPECT_EQ(lines[4], L"Line(7)");
}

TEST_F(KvtoolCommandsTest, ExplainRefusesGarbage) {
  for (const wchar_t* arguments : {L"explain zzz", L"explain 0x385A0002 12345678901", L"explain \"hello:world\"",
                                   L"explain \"0x385A0002:InvalidNextTime,Line(99999),\"", L"explain"}) {
    SCOPED_TRACE(Narrow(arguments));
    const ToolRun run = Run(arguments);
    EXPECT_NE(run.exitCode, 0u);
    EXPECT_TRUE(run.out.empty()) << Narrow(run.out);
    EXPECT_FALSE(run.err.empty());
  }
  const ToolRun garbage = Run(L"explain zzz");
  EXPECT_TRUE(Contains(garbage.err, L"\"zzz\"")) << Narrow(garbage.err);
}

// ---------------------------------------------------------------------------- settings

constexpr wchar_t kSecret[] = L"Sx-93kq-NEVER-shown";

std::wstring SettingsText(const std::wstring& extra = {}) {
  return std::wstring(L"; the administrator's settings\r\n[Kestravondal]\r\nUpdateTime=03:00\r\n"
                      L"OtherUncPath=\\\\fileserver\\defs\\current\r\nUncPath=\\\\fileserver\\legacy\r\n"
                      L"ProxyUser=op\u00E9rateur\r\nProxyPass=") +
         kSecret + L"\r\nIsEnableProxyPass=0x10\r\n" + extra;
}

std::string Utf16Bytes(const std::wstring& text) {
  std::string bytes = "\xFF\xFE";
  bytes.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
  return bytes;
}

std::string Utf8BomBytes(const std::wstring& text) {
  std::string bytes;
  EXPECT_FALSE(WideToNarrow(text, CP_UTF8, 0, bytes).Failed());
  return "\xEF\xBB\xBF" + bytes;
}

std::string AnsiBytes(const std::wstring& text) {
  std::string bytes;
  bool usedDefault = false;
  EXPECT_FALSE(WideToNarrow(text, CP_ACP, 0, bytes, &usedDefault).Failed());
  EXPECT_FALSE(usedDefault) << "the text fits the ANSI code page";
  return bytes;
}

// The stamp of the next 03:00 as the schedule picks it at `now`: today while that time is
// still to come, else tomorrow. "UpdateTime" is standard time (docs/configuration.md), so
// the moment is made with the daylight flag 0 and shown on the wall clock.
std::wstring Next0300Stamp(std::time_t now) {
  const std::tm today = *std::localtime(&now);
  for (int day = 0; day < 2; ++day) {
    std::tm at{};
    at.tm_year = today.tm_year;
    at.tm_mon = today.tm_mon;
    at.tm_mday = today.tm_mday + day;
    at.tm_hour = 3;
    at.tm_isdst = 0;
    const std::time_t moment = std::mktime(&at);
    if (moment <= now) continue;
    const std::tm local = *std::localtime(&moment);
    wchar_t stamp[32];
    std::swprintf(stamp, 32, L"%04d%02d%02d_%02d%02d%02d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                  local.tm_hour, local.tm_min, local.tm_sec);
    return stamp;
  }
  return L"(none)";
}

TEST_F(KvtoolCommandsTest, SettingsReadsEveryEncodingAlikeAndHidesThePassword) {
  const std::wstring text = SettingsText();
  struct Case {
    const wchar_t* name;
    std::string bytes;
    const wchar_t* readAs;
  };
  const std::vector<Case> cases = {{L"utf16.ini", Utf16Bytes(text), L"Read as: UTF-16LE with byte-order mark"},
                                   {L"utf8.ini", Utf8BomBytes(text), L"Read as: UTF-8 with byte-order mark"},
                                   {L"ansi.ini", AnsiBytes(text), L"Read as: ANSI code page"}};
  std::wstring firstFileBlock, firstEngineBlock;
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.name));
    const std::wstring path = folder_ + L"\\" + c.name;
    ASSERT_TRUE(test::WriteFileBytes(path, c.bytes));
    const std::time_t before = std::time(nullptr);
    const ToolRun run = Run(L"settings " + Quoted(path));
    const std::time_t after = std::time(nullptr);
    EXPECT_EQ(run.exitCode, 0u) << Narrow(run.err);
    EXPECT_TRUE(Contains(run.out, c.readAs)) << Narrow(run.out);

    // The engine's values.
    EXPECT_TRUE(Contains(run.out, L"\n[AntiVirus]\nUpdateUnc=\\\\fileserver\\defs\\current\nUpdateTypeKey=UpdateUnc\n"))
        << Narrow(run.out);
    EXPECT_TRUE(Contains(run.out, L"\nIsGuiProxyAuthentication=0\n")) << Narrow(run.out);
    EXPECT_TRUE(Contains(run.out, L"\nUncPath=\\\\fileserver\\legacy\n")) << Narrow(run.out);
    EXPECT_TRUE(Contains(run.out, L"\nProxyUser=op\u00E9rateur\n")) << Narrow(run.out);
    EXPECT_TRUE(Contains(run.out, L"\nProxyPass=(set, hidden)\n")) << Narrow(run.out);
    // The password nowhere, in either stream.
    EXPECT_FALSE(Contains(run.out, kSecret)) << Narrow(run.out);
    EXPECT_FALSE(Contains(run.err, kSecret));

    // The schedule: the next 03:00, today or tomorrow, whichever side of a minute the
    // run fell on.
    EXPECT_TRUE(Contains(run.out, L"Scheduled updates: enabled\n")) << Narrow(run.out);
    const std::set<std::wstring> expected = {Next0300Stamp(before), Next0300Stamp(after)};
    bool found = false;
    for (const std::wstring& stamp : expected) found = found || Contains(run.out, L"Next update time: " + stamp + L" (");
    EXPECT_TRUE(found) << Narrow(*expected.begin()) << "\n" << Narrow(run.out);
    EXPECT_TRUE(Contains(run.out, L"TimeIntervalHour=24 (default)")) << Narrow(run.out);

    // Every encoding gives the same file text and the same engine values.
    const std::wstring fileBlock = Block(run.out, L"== The file", L"== What");
    const std::wstring engineBlock = Block(run.out, L"== What", L"== The schedule");
    EXPECT_TRUE(Contains(fileBlock, L"[Kestravondal]\nIsEnableProxyPass=0x10\nOtherUncPath=")) << Narrow(fileBlock);
    if (firstFileBlock.empty()) {
      firstFileBlock = fileBlock;
      firstEngineBlock = engineBlock;
    } else {
      EXPECT_EQ(fileBlock, firstFileBlock);
      EXPECT_EQ(engineBlock, firstEngineBlock);
    }
  }
}

TEST_F(KvtoolCommandsTest, SettingsReadsTheProxyFlagAsTheServiceDoes) {
  struct Case {
    const wchar_t* value;
    const wchar_t* authentication;
  };
  for (const Case& c : {Case{L"0x10", L"0"}, Case{L"yes", L"1"}, Case{L"0", L"1"}, Case{L"1", L"0"}}) {
    SCOPED_TRACE(Narrow(c.value));
    const std::wstring path = folder_ + L"\\Kestravondal.ini";
    ASSERT_TRUE(test::WriteFileBytes(path, Utf8BomBytes(std::wstring(L"[Kestravondal]\nIsEnableProxyPass=") + c.value)));
    const ToolRun run = Run(L"settings " + Quoted(path));
    EXPECT_EQ(run.exitCode, 0u) << Narrow(run.err);
    EXPECT_TRUE(Contains(run.out, std::wstring(L"\nIsGuiProxyAuthentication=") + c.authentication + L"\n"))
        << Narrow(run.out);
    // Without "OtherUncPath" the engine is told to use HTTP.
    EXPECT_TRUE(Contains(run.out, L"\nUpdateUnc=(empty)\nUpdateTypeKey=UpdateHttp\n")) << Narrow(run.out);
    EXPECT_TRUE(Contains(run.out, L"\nProxyPass=(empty)\n")) << Narrow(run.out);
  }
}

TEST_F(KvtoolCommandsTest, SettingsSaysWhenScheduledUpdatesAreDisabled) {
  for (const wchar_t* value : {L"3", L"", L"03:00:00"}) {
    SCOPED_TRACE(Narrow(value));
    const std::wstring path = folder_ + L"\\Kestravondal.ini";
    ASSERT_TRUE(test::WriteFileBytes(path, Narrow(std::wstring(L"[Kestravondal]\r\nUpdateTime=") + value +
                                                  L"\r\nTimeIntervalHour=6\r\n")));
    const ToolRun run = Run(L"settings " + Quoted(path));
    EXPECT_EQ(run.exitCode, 0u) << Narrow(run.err);
    EXPECT_TRUE(Contains(run.out, L"Scheduled updates: disabled")) << Narrow(run.out);
    EXPECT_TRUE(Contains(run.out, L"control 200")) << Narrow(run.out);
    EXPECT_TRUE(Contains(run.out, L"TimeIntervalHour=6 (from \"6\")")) << Narrow(run.out);
  }
}

TEST_F(KvtoolCommandsTest, SettingsStartsFromAProgramsBuiltInSettings) {
  Digest256 secret{};
  ASSERT_TRUE(BuildSecret(secret));
  constexpr wchar_t kBuiltinSecret[] = L"Builtin-Secret-77";
  const std::wstring program = test::ResealedCopy(
      folder_, secret,
      "[Setting]\nScanDll=ScanEngine.dll\nTimerElapse=45\nProxyPass=Builtin-Secret-77\nUncPath=\\\\builtin\\share\n");
  ASSERT_FALSE(program.empty());
  const std::wstring path = folder_ + L"\\Kestravondal.ini";
  ASSERT_TRUE(test::WriteFileBytes(path, Narrow(SettingsText())));

  const ToolRun run = Run(L"settings " + Quoted(path) + L" " + Quoted(program));
  EXPECT_EQ(run.exitCode, 0u) << Narrow(run.err);
  EXPECT_TRUE(Contains(run.out, L"onto the built-in settings of " + program)) << Narrow(run.out);
  EXPECT_TRUE(Contains(run.out, L"Polling period: 45 seconds")) << Narrow(run.out);
  // The file's values win.
  EXPECT_TRUE(Contains(run.out, L"\nUncPath=\\\\fileserver\\legacy\n")) << Narrow(run.out);
  EXPECT_FALSE(Contains(run.out, kSecret));
  EXPECT_FALSE(Contains(run.out, kBuiltinSecret));

  // An empty value in the file clears the built-in one, and still nothing is shown.
  ASSERT_TRUE(test::WriteFileBytes(path, "[Kestravondal]\nProxyPass=\nUpdateTime=04:30\n"));
  const ToolRun cleared = Run(L"settings " + Quoted(path) + L" " + Quoted(program));
  EXPECT_EQ(cleared.exitCode, 0u) << Narrow(cleared.err);
  EXPECT_TRUE(Contains(cleared.out, L"\nProxyPass=(empty)\n")) << Narrow(cleared.out);
  EXPECT_TRUE(Contains(cleared.out, L"\nUncPath=(empty)\n")) << Narrow(cleared.out);
  EXPECT_FALSE(Contains(cleared.out, kBuiltinSecret));

  // A program without built-in settings is reported.
  const ToolRun noConfig = Run(L"settings " + Quoted(path) + L" " + Quoted(test::ProgramFolder() + L"\\kv_tools_tests.exe"));
  EXPECT_EQ(noConfig.exitCode, 1u);
  EXPECT_TRUE(Contains(noConfig.err, L"built-in settings")) << Narrow(noConfig.err);
}

TEST_F(KvtoolCommandsTest, SettingsRefusesFilesItCannotReadOrDecode) {
  const ToolRun missing = Run(L"settings " + Quoted(folder_ + L"\\absent.ini"));
  EXPECT_NE(missing.exitCode, 0u);
  EXPECT_TRUE(missing.out.empty());
  EXPECT_TRUE(Contains(missing.err, L"cannot read")) << Narrow(missing.err);
  EXPECT_TRUE(Contains(missing.err, L"Line(")) << Narrow(missing.err);

  const std::wstring bad = folder_ + L"\\bad.ini";
  ASSERT_TRUE(test::WriteFileBytes(bad, "\xEF\xBB\xBF[Kestravondal]\r\nUpdateTime=\xC3\x28"));
  const ToolRun undecodable = Run(L"settings " + Quoted(bad));
  EXPECT_NE(undecodable.exitCode, 0u);
  EXPECT_TRUE(undecodable.out.empty());
  EXPECT_TRUE(Contains(undecodable.err, L"cannot decode")) << Narrow(undecodable.err);
  EXPECT_TRUE(Contains(undecodable.err, ServicePiece(ERROR_NO_UNICODE_TRANSLATION))) << Narrow(undecodable.err);

  for (const wchar_t* arguments : {L"settings", L"settings a.ini b.exe c"}) {
    EXPECT_EQ(Run(arguments).exitCode, 2u) << Narrow(arguments);
  }
}

TEST(CodePage932KvtoolCommands, SettingsKeepsJapaneseText) {
  const std::wstring folder = test::FreshFolder(L"kv_tools_commands_ja");
  const std::wstring text = L"[Kestravondal]\r\nProxyUser=\u7BA1\u7406\u8005\r\nOtherUncPath=\\\\\u30B5\u30FC\u30D0\\defs\r\n";
  std::string ansi;
  bool usedDefault = false;
  ASSERT_FALSE(WideToNarrow(text, CP_ACP, 0, ansi, &usedDefault).Failed());
  ASSERT_FALSE(usedDefault) << "runs in code page 932";
  for (const std::string& bytes : {Utf16Bytes(text), Utf8BomBytes(text), ansi}) {
    const std::wstring path = folder + L"\\Kestravondal.ini";
    ASSERT_TRUE(test::WriteFileBytes(path, bytes));
    const ToolRun run = RunKvtool(folder, L"settings " + Quoted(path));
    EXPECT_EQ(run.exitCode, 0u) << Narrow(run.err);
    EXPECT_TRUE(Contains(run.out, L"\nProxyUser=\u7BA1\u7406\u8005\n")) << Narrow(run.out);
    EXPECT_TRUE(Contains(run.out, L"\nUpdateUnc=\\\\\u30B5\u30FC\u30D0\\defs\n")) << Narrow(run.out);
  }
  test::RemoveTree(folder);
}

// ---------------------------------------------------------------------------- manifest

using test::DefinitionSet;
using test::Pattern;
using test::SetFile;
namespace ref = refengine;

std::vector<std::wstring> Listing(const std::wstring& folder) { return test::FolderListing(folder); }

class KvtoolManifestTest : public KvtoolCommandsTest {
 protected:
  void SetUp() override {
    KvtoolCommandsTest::SetUp();
    published_ = folder_ + L"\\pub";
    ASSERT_TRUE(::CreateDirectoryW(published_.c_str(), nullptr));
    for (const SetFile& file : set_.files) ASSERT_TRUE(test::WriteFileBytes(published_ + L"\\" + file.name, file.bytes));
  }

  const DefinitionSet set_{L"3.1",
                           L"2026-12-24",
                           {{L"alpha.def", Pattern(3000, 1)},
                            {L"beta.dat", Pattern(10, 2)},
                            {L"empty.bin", ""},
                            {L"with space..v1.def", Pattern(70000, 3)}}};
  std::wstring published_;
};

TEST_F(KvtoolManifestTest, ThePublishedSetIsInstalledByTheEngine) {
  // Left out: a subfolder, the old manifest, which is replaced, and a file named after it.
  ASSERT_TRUE(::CreateDirectoryW((published_ + L"\\sub").c_str(), nullptr));
  ASSERT_TRUE(test::WriteFileBytes(published_ + L"\\sub\\ignored.def", "x"));
  ASSERT_TRUE(test::WriteFileBytes(published_ + L"\\defset.ini", "[DefinitionSet]\r\nVersion=old\r\n"));
  ASSERT_TRUE(test::WriteFileBytes(published_ + L"\\defset.ini.new", "left by an earlier publication"));

  const ToolRun run = Run(L"manifest " + Quoted(published_) + L" 3.1 2026-12-24");
  ASSERT_EQ(run.exitCode, 0u) << Narrow(run.err);
  EXPECT_TRUE(Contains(run.out, L"Wrote " + published_ + L"\\defset.ini")) << Narrow(run.out);

  // Nothing else written: no temporary manifest left behind.
  EXPECT_EQ(Listing(published_), (std::vector<std::wstring>{L"alpha.def", L"beta.dat", L"defset.chunks",
                                                             L"defset.ini", L"defset.ini.new", L"defset.z",
                                                             L"empty.bin", L"sub", L"with space..v1.def"}));
  // Compressed copies only where they save: not of 10 bytes, nor of nothing.
  EXPECT_EQ(Listing(published_ + L"\\defset.z"), (std::vector<std::wstring>{L"alpha.def", L"with space..v1.def"}));
  EXPECT_TRUE(Contains(run.out, L"Not listed (named after the manifest):\n  defset.ini.new\n")) << Narrow(run.out);

  // Every file with its size and digest, exactly as the engine's format wants it.
  IniDocument manifest;
  ASSERT_FALSE(manifest.ParseBytes(test::ReadFileBytes(published_ + L"\\defset.ini")).Failed());
  EXPECT_EQ(manifest.GetString(L"Version", L"", L"DefinitionSet"), L"3.1");
  EXPECT_EQ(manifest.GetString(L"Date", L"", L"DefinitionSet"), L"2026-12-24");
  std::size_t listed = 0;
  for (const IniSection& section : manifest.Sections()) {
    if (section.Name() == L"Files") listed = section.GetEntries().size();
  }
  EXPECT_EQ(listed, set_.files.size());
  for (const SetFile& file : set_.files) {
    std::string line = test::FileLine(file.name, file.bytes);  // "name=size,sha256\r\n"
    line.resize(line.size() - 2);
    const std::string value = line.substr(line.find('=') + 1);
    EXPECT_EQ(Narrow(manifest.GetString(file.name, L"", L"Files")), value) << Narrow(file.name);
  }
  // A chunk index for the one file large enough to gain from it, named with its digest.
  EXPECT_EQ(Listing(published_ + L"\\defset.chunks"), std::vector<std::wstring>{L"with space..v1.def"});
  const std::string index = test::ReadFileBytes(published_ + L"\\defset.chunks\\with space..v1.def");
  std::string indexLine = test::FileLine(L"with space..v1.def", index);
  EXPECT_EQ(Narrow(manifest.GetString(L"with space..v1.def", L"", L"Indexes")),
            indexLine.substr(indexLine.find('=') + 1, indexLine.size() - indexLine.find('=') - 3));
  EXPECT_EQ(index, ref::ChunkIndexBytes(ref::CutChunks(set_.files[3].bytes), set_.files[3].bytes.size()));

  // The reference engine installs it.
  const std::wstring defs = folder_ + L"\\inst\\Defs";
  ASSERT_TRUE(::CreateDirectoryW((folder_ + L"\\inst").c_str(), nullptr));
  ScanSession session;
  ASSERT_OK(session.Open(test::ProgramFolder() + L"\\ScanEngine.dll"));
  std::wstring result;
  const ResultChain chain = session.Update(L"[Setting]\r\nScanDll=ScanEngine.dll\r\n[AntiVirus]\r\n"
                                           L"UpdateTypeKey=UpdateUnc\r\nUpdateUnc=" + published_ +
                                               L"\r\nDefDatFolder=" + defs + L"\r\n[ScanEngine]\r\nAllowUnsignedShare=1\r\n",
                                           result);
  EXPECT_OK(chain);
  EXPECT_EQ(IniDocument(result).GetString(L"DefinitionVersion", L"", L"ScannerVersion"), L"3.1") << Narrow(result);
  for (const SetFile& file : set_.files) {
    EXPECT_EQ(test::ReadFileBytes(defs + L"\\" + file.name), file.bytes) << Narrow(file.name);
  }
  EXPECT_FALSE(::GetFileAttributesW((defs + L"\\ignored.def").c_str()) != INVALID_FILE_ATTRIBUTES);

  // The next set, made with the installed one as the earlier set: the changed file gets a
  // patch from exactly the installed version, which the engine applies.
  const std::wstring next = folder_ + L"\\next";
  ASSERT_TRUE(::CreateDirectoryW(next.c_str(), nullptr));
  std::string changed = set_.files[3].bytes;
  changed.replace(30000, 100, Pattern(100, 9));
  for (const SetFile& file : set_.files) {
    ASSERT_TRUE(test::WriteFileBytes(next + L"\\" + file.name, file.name == L"with space..v1.def" ? changed : file.bytes));
  }
  const ToolRun packed = Run(L"manifest --previous " + Quoted(published_) + L" " + Quoted(next) + L" 3.2");
  ASSERT_EQ(packed.exitCode, 0u) << Narrow(packed.err);
  EXPECT_TRUE(Contains(packed.out, L"1 patch(es) from 1 earlier set(s)")) << Narrow(packed.out);
  ref::DefinitionManifest nextManifest;
  ASSERT_FALSE(ref::ParseManifest(test::ReadFileBytes(next + L"\\defset.ini"), nextManifest).Failed());
  const ref::ManifestFile& patchedFile = nextManifest.files[3];
  ASSERT_EQ(patchedFile.patches.size(), 1u);
  const std::string& before = set_.files[3].bytes;
  EXPECT_TRUE(patchedFile.patches[0].source == Sha256::Of(before.data(), before.size()));
  EXPECT_EQ(Listing(next + L"\\defset.patches"),
            std::vector<std::wstring>{ref::PatchName(patchedFile.patches[0].source, patchedFile.digest)});
  EXPECT_LT(patchedFile.patches[0].object.size, 1000u);
  const ResultChain patched = session.Update(L"[AntiVirus]\r\nUpdateTypeKey=UpdateUnc\r\nUpdateUnc=" + next +
                                                 L"\r\nDefDatFolder=" + defs + L"\r\n[ScanEngine]\r\nAllowUnsignedShare=1\r\n",
                                             result);
  EXPECT_OK(patched);
  EXPECT_EQ(IniDocument(result).GetString(L"PatchedFiles", L"", L"ScannerVersion"), L"1") << Narrow(result);
  EXPECT_EQ(test::ReadFileBytes(defs + L"\\with space..v1.def"), changed);
  EXPECT_OK(session.Close());
}

TEST_F(KvtoolManifestTest, KeygenAndSignMakeASetOnlyTheirKeyOpens) {
  const std::wstring key = folder_ + L"\\publisher.key";
  const ToolRun made = Run(L"keygen " + Quoted(key));
  ASSERT_EQ(made.exitCode, 0u) << Narrow(made.err);
  const std::size_t at = made.out.find(L"\nPublicKey=");
  ASSERT_NE(at, std::wstring::npos) << Narrow(made.out);
  const std::wstring publicKey = made.out.substr(at + 11, made.out.find(L'\n', at + 1) - at - 11);
  const std::string keyFile = test::ReadFileBytes(key);
  EXPECT_FALSE(test::EveryoneMay(key, /*write=*/false)) << "a key file Everyone may read";
  EXPECT_EQ(Run(L"keygen " + Quoted(key)).exitCode, 1u) << "a key file is never overwritten";
  EXPECT_EQ(test::ReadFileBytes(key), keyFile);

  ASSERT_EQ(Run(L"manifest " + Quoted(published_) + L" 3.1 2026-12-24").exitCode, 0u);
  // After the same version (its own manifest) it may be signed; after 3.10 not (below).
  const ToolRun signedSet = Run(L"sign --previous " + Quoted(published_ + L"\\defset.ini") + L" " +
                                Quoted(published_) + L" " + Quoted(key));
  ASSERT_EQ(signedSet.exitCode, 0u) << Narrow(signedSet.err);
  EXPECT_TRUE(Contains(signedSet.out, L"PublicKey=" + publicKey)) << Narrow(signedSet.out);
  const std::string signature = test::ReadFileBytes(published_ + L"\\defset.sig");
  // A manifest written again does not list the signature.
  ASSERT_EQ(Run(L"manifest " + Quoted(published_) + L" 3.1 2026-12-24").exitCode, 0u);
  EXPECT_EQ(test::ReadFileBytes(published_ + L"\\defset.sig"), signature);
  EXPECT_EQ(Listing(published_), (std::vector<std::wstring>{L"alpha.def", L"beta.dat", L"defset.chunks", L"defset.ini",
                                                             L"defset.sig", L"defset.z", L"empty.bin",
                                                             L"with space..v1.def"}));

  // The engine with the printed key installs the set; with another key it refuses it.
  ASSERT_TRUE(::CreateDirectoryW((folder_ + L"\\inst").c_str(), nullptr));
  ScanSession session;
  ASSERT_OK(session.Open(test::ProgramFolder() + L"\\ScanEngine.dll"));
  const auto update = [&](const std::wstring& publicKeyText) {
    std::wstring result;
    return session.Update(L"[AntiVirus]\r\nUpdateTypeKey=UpdateUnc\r\nUpdateUnc=" + published_ + L"\r\nDefDatFolder=" +
                              folder_ + L"\\inst\\Defs\r\n[ScanEngine]\r\nPublicKey=" + publicKeyText + L"\r\n",
                          result);
  };
  EXPECT_EQ(update(test::TestKey().publicKey).Last(), 0x7EC10025u) << "SignatureInvalid";
  EXPECT_OK(update(publicKey));
  // Signed again with an expiry, twice: one Expires line, the later one, and the
  // machine takes the same set as current.
  for (int round = 0; round < 2; ++round) {
    const ToolRun expiring = Run(L"sign --expires-days 7 " + Quoted(published_) + L" " + Quoted(key));
    ASSERT_EQ(expiring.exitCode, 0u) << Narrow(expiring.err);
    EXPECT_TRUE(Contains(expiring.out, L"\nExpires ")) << Narrow(expiring.out);
  }
  const std::string renewed = test::ReadFileBytes(published_ + L"\\defset.ini");
  const std::size_t expiry = renewed.find("[DefinitionSet]\r\nExpires=");
  EXPECT_NE(expiry, std::string::npos) << renewed;
  EXPECT_EQ(renewed.find("Expires=", expiry + 26), std::string::npos) << renewed;
  EXPECT_EQ(update(publicKey).Last(), 0x32880003u) << "AlreadyLastestDefinition";
  EXPECT_EQ(test::ReadFileBytes(folder_ + L"\\inst\\Defs\\defset.ini"), renewed);
  EXPECT_OK(session.Close());
  const std::string resigned = test::ReadFileBytes(published_ + L"\\defset.sig");

  // Refused, leaving the signature as it was: files that differ from the manifest, a
  // file that is no key, a folder without a manifest; wrong arguments.
  ASSERT_TRUE(test::WriteFileBytes(folder_ + L"\\bad.key", "[SigningKey]\r\nPrivateKey=AAAA\r\n"));
  ASSERT_TRUE(::CreateDirectoryW((folder_ + L"\\empty").c_str(), nullptr));
  const std::wstring changed = folder_ + L"\\changed";
  ASSERT_TRUE(::CreateDirectoryW(changed.c_str(), nullptr));
  ASSERT_TRUE(test::WriteFileBytes(changed + L"\\a.def", "a"));
  ASSERT_EQ(Run(L"manifest " + Quoted(changed) + L" 1.0").exitCode, 0u);
  ASSERT_TRUE(test::WriteFileBytes(changed + L"\\a.def", "b"));
  const std::vector<std::pair<std::wstring, DWORD>> refusals = {
      {L"sign " + Quoted(changed) + L" " + Quoted(key), 1},
      {L"sign " + Quoted(published_) + L" " + Quoted(folder_ + L"\\bad.key"), 1},
      {L"sign " + Quoted(published_) + L" " + Quoted(folder_ + L"\\absent.key"), 1},
      {L"sign " + Quoted(folder_ + L"\\empty") + L" " + Quoted(key), 1},
      {L"sign " + Quoted(published_), 2},
      {L"sign --previous " + Quoted(folder_ + L"\\empty") + L" " + Quoted(published_) + L" " + Quoted(key), 1},
      {L"sign " + Quoted(published_) + L" " + Quoted(key) + L" --previous", 2},
      {L"sign --expires-days 0 " + Quoted(published_) + L" " + Quoted(key), 2},
      {L"sign --expires-days 7x " + Quoted(published_) + L" " + Quoted(key), 2},
      {L"keygen", 2},
  };
  for (const auto& [arguments, exitCode] : refusals) {
    SCOPED_TRACE(Narrow(arguments));
    EXPECT_EQ(Run(arguments).exitCode, exitCode);
  }
  const std::wstring newer = folder_ + L"\\newer";
  test::Publish(newer, {L"3.10", L"2026-12-01", {{L"a.def", "a"}}});
  const ToolRun older = Run(L"sign --previous " + Quoted(newer) + L" " + Quoted(published_) + L" " + Quoted(key));
  EXPECT_EQ(older.exitCode, 1u);
  EXPECT_TRUE(Contains(older.err, L"version 3.1 orders before 3.10 of " + newer + L"\\defset.ini"))
      << Narrow(older.err);
  EXPECT_EQ(test::ReadFileBytes(published_ + L"\\defset.sig"), resigned);
  EXPECT_EQ(Listing(changed), (std::vector<std::wstring>{L"a.def", L"defset.ini"}));
}

TEST_F(KvtoolManifestTest, ADateDefaultsToToday) {
  const ToolRun run = Run(L"manifest " + Quoted(published_) + L" 4.0");
  ASSERT_EQ(run.exitCode, 0u) << Narrow(run.err);
  IniDocument manifest;
  ASSERT_FALSE(manifest.ParseBytes(test::ReadFileBytes(published_ + L"\\defset.ini")).Failed());
  const std::wstring date = manifest.GetString(L"Date", L"", L"DefinitionSet");
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  wchar_t today[16];
  std::swprintf(today, 16, L"%04u-%02u-%02u", now.wYear, now.wMonth, now.wDay);
  EXPECT_EQ(date.size(), 10u);
  EXPECT_TRUE(date == today || now.wHour == 0) << Narrow(date);  // a run across midnight
}

TEST_F(KvtoolManifestTest, NamesTheEngineWouldRefuseStopItBeforeAnythingIsWritten) {
  const std::string old = "[DefinitionSet]\r\nVersion=previous\r\n";
  ASSERT_TRUE(test::WriteFileBytes(published_ + L"\\defset.ini", old));
  for (const wchar_t* name : {L" leading.def", L"key=value.def"}) {
    SCOPED_TRACE(Narrow(name));
    const std::wstring path = published_ + L"\\" + name;
    ASSERT_TRUE(test::WriteFileBytes(path, "bad"));
    const ToolRun run = Run(L"manifest " + Quoted(published_) + L" 5.0 2026-12-31");
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_TRUE(run.out.empty()) << Narrow(run.out);
    EXPECT_TRUE(Contains(run.err, std::wstring(L"\"") + name + L"\"")) << Narrow(run.err);
    EXPECT_TRUE(Contains(run.err, L"refused")) << Narrow(run.err);
    // The published manifest is untouched and nothing was left beside it.
    EXPECT_EQ(test::ReadFileBytes(published_ + L"\\defset.ini"), old);
    EXPECT_EQ(Listing(published_).size(), set_.files.size() + 2);
    ASSERT_TRUE(::DeleteFileW(path.c_str()));
  }
}

TEST_F(KvtoolManifestTest, WrongArgumentsAndEmptyFoldersAreRefused) {
  const std::wstring empty = folder_ + L"\\empty";
  ASSERT_TRUE(::CreateDirectoryW(empty.c_str(), nullptr));
  EXPECT_EQ(Run(L"manifest " + Quoted(empty) + L" 1.0").exitCode, 1u);
  EXPECT_EQ(Listing(empty).size(), 0u);
  EXPECT_EQ(Run(L"manifest " + Quoted(folder_ + L"\\absent") + L" 1.0").exitCode, 1u);
  EXPECT_EQ(Run(L"manifest " + Quoted(published_)).exitCode, 2u);
  EXPECT_EQ(Run(L"manifest " + Quoted(published_) + L" \"\"").exitCode, 2u);
  EXPECT_EQ(Run(L"manifest").exitCode, 2u);
}

}  // namespace
}  // namespace kv
