#include "config/UpdateSettings.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "support/ResultAssertions.h"
#include "support/WinTestUtil.h"

namespace kv {
namespace {

struct Overlaid {
  std::wstring proxyUser, proxyPass, guiProxyAuth, uncPath, updateUnc, updateTypeKey;
};

Overlaid Overlay(const std::wstring& fileText, const std::wstring& builtin = L"") {
  IniDocument source(fileText);
  IniDocument target(builtin);
  EXPECT_OK(OverlayFileSettings(target, source));
  return {target.GetString(L"ProxyUser", L"<none>", L"Setting"), target.GetString(L"ProxyPass", L"<none>", L"Setting"),
          target.GetString(L"IsGuiProxyAuthentication", L"<none>", L"Setting"),
          target.GetString(L"UncPath", L"<none>", L"Setting"), target.GetString(L"UpdateUnc", L"<none>", L"AntiVirus"),
          target.GetString(L"UpdateTypeKey", L"<none>", L"AntiVirus")};
}

TEST(OverlayFileSettings, NoFileGivesEmptyValuesAndHttp) {
  const Overlaid o = Overlay(L"");
  // Empty values read as missing, hence the caller's default.
  EXPECT_EQ(o.proxyUser, L"<none>");
  EXPECT_EQ(o.proxyPass, L"<none>");
  EXPECT_EQ(o.uncPath, L"<none>");
  EXPECT_EQ(o.updateUnc, L"<none>");
  EXPECT_EQ(o.guiProxyAuth, L"1");
  EXPECT_EQ(o.updateTypeKey, L"UpdateHttp");

  IniDocument empty;
  EXPECT_EQ(empty.GetString(L"UpdateTime", L"", kSettingsSection), L"");
  EXPECT_EQ(empty.GetInt(L"TimeIntervalHour", 24, 0, kSettingsSection), 24u);
}

TEST(OverlayFileSettings, OtherUncPathSelectsUnc) {
  const Overlaid o = Overlay(L"[Kestravondal]\nOtherUncPath=\\\\server\\defs\nUncPath=\\\\server\\share\n");
  EXPECT_EQ(o.updateTypeKey, L"UpdateUnc");
  EXPECT_EQ(o.updateUnc, L"\\\\server\\defs");
  EXPECT_EQ(o.uncPath, L"\\\\server\\share");
}

// The engine reads these keys by their exact spelling, whatever this reader forgives.
TEST(OverlayFileSettings, KeysAreWrittenInTheirExactSpelling) {
  IniDocument target;
  IniDocument file(L"[Kestravondal]\nOtherUncPath=\\\\s\\d\nProxyUser=u\n");
  ASSERT_OK(OverlayFileSettings(target, file));
  EXPECT_EQ(target.ToText(),
            L"[Setting]\nIsGuiProxyAuthentication=1\nProxyUser=u\n\n"
            L"[AntiVirus]\nUpdateTypeKey=UpdateUnc\nUpdateUnc=\\\\s\\d\n\n");
}

TEST(OverlayFileSettings, ProxyPasswordFlag) {
  struct Case {
    const wchar_t* value;
    const wchar_t* expected;
  } cases[] = {{L"1", L"0"}, {L"0x10", L"0"}, {L"0", L"1"}, {L"yes", L"1"}, {L"", L"1"}, {L"010", L"0"}};
  for (const Case& c : cases) {
    EXPECT_EQ(Overlay(std::wstring(L"[Kestravondal]\nIsEnableProxyPass=") + c.value + L"\n").guiProxyAuth, c.expected)
        << c.value;
  }
}

TEST(OverlayFileSettings, FileValuesWinEvenWhenEmpty) {
  const std::wstring builtin = L"[Setting]\nProxyUser=builtin\nProxyPass=builtinpass\n";
  EXPECT_EQ(Overlay(L"[kestravondal]\nProxyUser=admin\nProxyPass=p=w;d\n", builtin).proxyUser, L"admin");
  EXPECT_EQ(Overlay(L"[KESTRAVONDAL]\nProxyPass=p=w;d\n", builtin).proxyPass, L"p=w;d")
      << "a header in other letter case is the same section; the value is copied unchanged";
  EXPECT_EQ(Overlay(L"", builtin).proxyUser, L"<none>") << "no value in the file empties the built-in one";
}

TEST(UpdateSettings, FileEncodingsGiveTheSameSettings) {
  const std::wstring folder = test::FreshFolder(L"settings_encodings");
  const std::string ansi = "[Kestravondal]\r\nUpdateTime=03:00\r\nTimeIntervalHour=6\r\nProxyUser=caf\xe9\r\n";
  std::string utf8 = "\xEF\xBB\xBF[Kestravondal]\r\nUpdateTime=03:00\r\nTimeIntervalHour=6\r\nProxyUser=caf\xC3\xA9\r\n";
  const std::wstring wide = L"\xFEFF[Kestravondal]\r\nUpdateTime=03:00\r\nTimeIntervalHour=6\r\nProxyUser=caf\u00e9\r\n";
  const std::string utf16(reinterpret_cast<const char*>(wide.data()), wide.size() * 2);
  for (const std::string& bytes : {ansi, utf8, utf16}) {
    const std::wstring path = folder + L"\\Kestravondal.ini";
    ASSERT_TRUE(test::WriteFileBytes(path, bytes));
    IniDocument settings;
    (void)settings.SetDefaultSection(kSettingsSection);
    EXPECT_OK(LoadIniFile(path, settings));
    EXPECT_EQ(settings.GetString(L"UpdateTime", L"", kSettingsSection), L"03:00");
    EXPECT_EQ(settings.GetInt(L"TimeIntervalHour", 24, 0, kSettingsSection), 6u);
    EXPECT_EQ(settings.GetString(L"ProxyUser", L"", kSettingsSection), L"caf\u00e9");
  }
  test::RemoveTree(folder);
}

TEST(UpdateSettings, FileLivesBesideTheProgram) {
  std::wstring expected = test::ProgramFolder() + L"\\Kestravondal.ini";
  std::wstring actual = SettingsFilePath();
  EXPECT_EQ(CompareStringOrdinal(actual.c_str(), -1, expected.c_str(), -1, TRUE), CSTR_EQUAL) << actual;
}

}  // namespace
}  // namespace kv
