// The service installed under a folder with Japanese characters, in a Wine prefix whose
// service control manager runs in code page 932 (these tests run only there).
#include <windows.h>

#include <gtest/gtest.h>

#include "support/InstalledService.h"
#include "support/WinTestUtil.h"

namespace kv {
namespace {

const std::wstring kJapaneseFolder = L"\u30a2\u30d7\u30ea\u5b9a\u7fa9";  // アプリ定義

std::string Builtin(bool allowMultiByte) {
  return std::string("[Setting]\r\nScanDll=FaultEngine.dll\r\nTimerElapse=1\r\nLogFolder=log\r\n") +
         (allowMultiByte ? "IsSupportMultiByteInstalledPath=1\r\n" : "") + "[AntiVirus]\r\nDefDatFolder=defs\r\n";
}

class JapaneseServiceManager : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(::GetACP(), 932u) << "this suite runs with Wine in code page 932";
    root_ = test::FreshFolder(L"japanese_folder");
  }
  void TearDown() override {
    service_.reset();
    test::RemoveTree(root_);
  }
  void Install(bool allowMultiByte) {
    service_ = std::make_unique<test::InstalledService>(root_, kJapaneseFolder, Builtin(allowMultiByte), "",
                                                        L"FaultEngine.dll");
    ASSERT_TRUE(service_->Ready());
    // The engine reports every call to a trace file this test can read.
    std::wstring trace = root_ + L"\\trace.txt";
    ASSERT_TRUE(test::WriteFileBytes(service_->Folder() + L"\\FaultEngine.ini",
                                     "TraceFile=" + std::string(trace.begin(), trace.end()) + "\r\n"));
  }
  int Updates() const {
    const std::string trace = test::ReadFileBytes(root_ + L"\\trace.txt");
    int count = 0;
    for (std::size_t at = trace.find("UpdateDefinition"); at != std::string::npos;
         at = trace.find("UpdateDefinition", at + 1)) {
      ++count;
    }
    return count;
  }
  bool WaitForUpdates(int count) const {
    for (int i = 0; i < 3000 && Updates() < count; ++i) ::Sleep(20);
    return Updates() >= count;
  }

  std::wstring root_;
  std::unique_ptr<test::InstalledService> service_;
};

TEST_F(JapaneseServiceManager, AFolderOutsideTheCodePageRunsNoUpdateUntilAsked) {
  Install(/*allowMultiByte=*/false);
  ASSERT_TRUE(service_->Service().Start());
  ASSERT_TRUE(service_->Service().WaitForState(SERVICE_RUNNING));
  // The engine is loaded (its creation is traced) but start-up stops at the path check.
  ASSERT_TRUE(test::WaitForPath(root_ + L"\\trace.txt"));
  ::Sleep(2000);
  EXPECT_EQ(Updates(), 0);
  EXPECT_EQ(::GetFileAttributesW((service_->Folder() + L"\\log").c_str()), INVALID_FILE_ATTRIBUTES)
      << "nothing is logged";

  ASSERT_TRUE(service_->Service().Control(200));
  EXPECT_TRUE(WaitForUpdates(1)) << "control 200 still starts an update";
  ASSERT_TRUE(service_->Service().StopAndWait());
}

TEST_F(JapaneseServiceManager, TheSettingAcceptsTheFolder) {
  Install(/*allowMultiByte=*/true);
  ASSERT_TRUE(service_->Service().Start());
  ASSERT_TRUE(service_->Service().WaitForState(SERVICE_RUNNING));
  EXPECT_TRUE(WaitForUpdates(1));
  ASSERT_TRUE(service_->WaitForLog("[Update_", 1)) << "the log lives in the Japanese folder";
  // The start-up record's comment in code page 932.
  EXPECT_TRUE(service_->WaitForLog("\x8b\x4e\x93\xae\x8e\x9e\x90\xdd\x92\xe8", 1)) << service_->Log();
  ASSERT_TRUE(service_->Service().StopAndWait());
}

}  // namespace
}  // namespace kv
