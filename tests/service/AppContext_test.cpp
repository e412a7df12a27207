#include "service/AppContext.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "foundation/ErrorCodes.h"
#include "foundation/ErrorNames.h"
#include "kernel/InstanceSuffix.h"
#include "support/FaultEngineControl.h"
#include "support/ResultAssertions.h"
#include "support/WinTestUtil.h"

namespace kv {
namespace {

std::wstring CurrentFolder() {
  wchar_t buffer[MAX_PATH] = {};
  ::GetCurrentDirectoryW(MAX_PATH, buffer);
  return buffer;
}

TEST(AppContext, BuiltinSettingsAndTheirCopies) {
  AppContext context(L"[Setting]\nScanDll=x.dll\n[AntiVirus]\nDefDatFolder=defs\n");
  IniDocument copy;
  EXPECT_OK(context.GetSettings(copy));
  EXPECT_EQ(copy.DefaultSection(), L"Setting");
  EXPECT_EQ(copy.GetString(L"ScanDll", L"", L"Setting"), L"x.dll");

  (void)copy.SetString(L"ScanDll", L"changed", L"Setting");
  IniDocument again;
  ASSERT_OK(context.GetSettings(again));
  EXPECT_EQ(again.GetString(L"ScanDll", L"", L"Setting"), L"x.dll") << "a copy is private to its user";

  IniDocument replaced(L"[Other]\nK=V\n");
  (void)replaced.SetDefaultSection(L"Other");
  ASSERT_OK(context.SetSettings(replaced));
  ASSERT_OK(context.GetSettings(again));
  EXPECT_EQ(again.DefaultSection(), L"Other");
  EXPECT_EQ(again.GetString(L"ScanDll", L"none", L"Setting"), L"none");
}

// Readers copy the settings while writers replace them, through SetSettings and through
// Configure: every copy must be one whole generation, never a mix of two.
TEST(AppContext, SettingsCopiesAreNeverTornByConcurrentWriters) {
  constexpr int kKeys = 64;
  auto generation = [](int g) {
    std::wstring text = L"[Setting]\nLogFolder=\n[AntiVirus]\n";
    for (int k = 0; k < kKeys; ++k) text += L"K" + std::to_wstring(k) + L"=" + std::to_wstring(g) + L"\n";
    return IniDocument(text);
  };
  AppContext context(generation(0).ToText());
  const HANDLE go = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<int> torn{0};
  std::vector<std::thread> threads;
  for (int r = 0; r < 4; ++r) {
    threads.emplace_back([&] {
      ::WaitForSingleObject(go, INFINITE);
      for (int i = 0; i < 60; ++i) {
        IniDocument copy;
        EXPECT_OK(context.GetSettings(copy));
        const std::wstring first = copy.GetString(L"K0", L"", L"AntiVirus");
        for (int k = 1; k < kKeys; ++k) {
          if (copy.GetString(L"K" + std::to_wstring(k), L"", L"AntiVirus") != first) ++torn;
        }
      }
    });
  }
  for (int w = 1; w <= 2; ++w) {
    threads.emplace_back([&, w] {
      IniDocument mine = generation(w);
      ::WaitForSingleObject(go, INFINITE);
      for (int i = 0; i < 30; ++i) {
        if (w == 1)
          EXPECT_OK(context.SetSettings(mine));
        else
          EXPECT_OK(context.Configure(mine));
      }
    });
  }
  ::SetEvent(go);
  for (auto& t : threads) t.join();
  ::CloseHandle(go);
  EXPECT_EQ(torn.load(), 0);
}

TEST(AppContext, ConfigureCreatesTheStopEventAndTheLogFolder) {
  AppContext context(L"");
  IniDocument settings(L"[AntiVirus]\nDefDatFolder=defs\n");
  EXPECT_OK(context.Configure(settings));
  ASSERT_NE(context.StopEvent(), nullptr);
  EXPECT_EQ(::WaitForSingleObject(context.StopEvent(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(context.Log().Folder(), test::ProgramFolder() + L"\\log") << "no LogFolder means \"log\"";

  HANDLE byName = ::OpenEventW(SYNCHRONIZE, FALSE, (L"EventStopEvent_" + InstanceSuffix()).c_str());
  EXPECT_NE(byName, nullptr) << "other programs find the stop event by its name";
  if (byName) ::CloseHandle(byName);
}

class LoadScanModuleTest : public ::testing::Test {
 protected:
  static IniDocument Settings(const std::wstring& scanDll) {
    return IniDocument(L"[Setting]\nScanDll=" + scanDll + L"\n");
  }
};

TEST_F(LoadScanModuleTest, NoScanDllFailsAtOnce) {
  AppContext context(L"");
  const std::wstring before = CurrentFolder();
  IniDocument settings(L"[Setting]\nLogFolder=log\n");
  const ResultChain result = context.LoadScanModule(settings);
  ASSERT_EQ(result.Count(), 3u);
  EXPECT_EQ(result.Codes()[2], err::KeyScanDll) << "read first";
  EXPECT_EQ(result.Codes()[1], err::DllNotFound);
  EXPECT_TRUE(IsLineMarker(result.Codes()[0]));
  EXPECT_FALSE(context.Session().Module().Loaded());
  EXPECT_EQ(CurrentFolder(), before);
}

TEST_F(LoadScanModuleTest, RelativeLibraryOpensBesideTheProgramWithItsIniKey) {
  test::FaultEngineControl engine(L"FaultEngine.dll");
  AppContext context(L"");
  IniDocument settings = Settings(L"FaultEngine.dll");
  ASSERT_OK(context.LoadScanModule(settings));
  EXPECT_TRUE(context.Session().HasEngine());
  EXPECT_EQ(context.IniKey(), L"FaultEngine");
  EXPECT_EQ(context.ScanLibraryPath().FullPath(), test::ProgramFolder() + L"\\FaultEngine.dll");
  EXPECT_EQ(CodeText(0x7ED00002, 0), L"FaultUninitialize") << "the library's names were merged";
  EXPECT_EQ(CodeText(0x7ED00001, 0), L"FaultEngineFirst") << "within the library's table the earlier row wins";
  EXPECT_OK(context.UnloadScanModule());
  EXPECT_EQ(engine.LiveObjects(), 0);
}

TEST_F(LoadScanModuleTest, ContradictingNameFailsStartUp) {
  test::FaultEngineControl engine(L"FaultEngineBadName.dll");
  AppContext context(L"");
  IniDocument settings = Settings(L"FaultEngineBadName.dll");
  const ResultChain result = context.LoadScanModule(settings);
  EXPECT_TRUE(result.Contains(err::InvalidKeyTable));
  EXPECT_TRUE(result.Contains(0x617A0062));
  EXPECT_FALSE(context.Session().HasEngine());
  EXPECT_EQ(CodeText(0x617A0062, 0), L"FileNotFound");
}

TEST_F(LoadScanModuleTest, WrongVersionFailsAfterTheNamesWereMerged) {
  test::FaultEngineControl engine(L"FaultEngineV5.dll");
  AppContext context(L"");
  IniDocument settings = Settings(L"FaultEngineV5.dll");
  const ResultChain result = context.LoadScanModule(settings);
  ASSERT_GE(result.Count(), 3u);
  EXPECT_EQ(result.Last(), err::KeyScanDll);
  EXPECT_TRUE(result.Contains(err::NotSupportVersion));
  EXPECT_EQ(engine.Calls(L"ReadErrorTable"), 1);
  EXPECT_EQ(engine.LiveObjects(), 0);
}

TEST_F(LoadScanModuleTest, MissingIniKeyLeavesItEmpty) {
  test::FaultEngineControl engine(L"FaultEngine.dll");
  engine.Configure(L"IniKeyMissing=1");
  AppContext context(L"");
  IniDocument settings = Settings(L"FaultEngine.dll");
  EXPECT_OK(context.LoadScanModule(settings));
  EXPECT_EQ(context.IniKey(), L"");
}

TEST_F(LoadScanModuleTest, MissingLibraryIsTheSystemError) {
  AppContext context(L"");
  IniDocument settings = Settings(L"NoSuchEngine.dll");
  EXPECT_EQ(context.LoadScanModule(settings).Last(), static_cast<ErrorCode>(ERROR_MOD_NOT_FOUND));
}

}  // namespace
}  // namespace kv
