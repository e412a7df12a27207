#include "service/DefinitionUpdateJob.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "foundation/ErrorCodes.h"
#include "log/LogFolder.h"
#include "service/AppContext.h"
#include "support/FaultEngineControl.h"
#include "support/ResultAssertions.h"
#include "support/ServiceUnderTest.h"
#include "support/WinTestUtil.h"

namespace kv {
namespace {

// Everything the log folder holds, month files concatenated.
std::string LogContent(const std::wstring& folder) { return test::MonthFilesContent(folder); }

class DefinitionUpdateJobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(engine_.Loaded());
    root_ = test::FreshFolder(L"update_job");
    ASSERT_TRUE(::CreateDirectoryW((root_ + L"\\Defs").c_str(), nullptr));
    const std::wstring builtin = L"[Setting]\nScanDll=" + engine_.Path() + L"\nLogFolder=" + root_ +
                                 L"\\log\n[AntiVirus]\nDefDatFolder=" + root_ + L"\\Defs\n";
    context_ = std::make_unique<AppContext>(builtin);
    IniDocument settings;
    ASSERT_OK(context_->GetSettings(settings));
    ASSERT_OK(context_->LoadScanModule(settings));
    ASSERT_OK(context_->Configure(settings));
    ASSERT_NE(context_->StopEvent(), nullptr);
    ::ResetEvent(context_->StopEvent());
  }
  void TearDown() override {
    context_.reset();
    test::RemoveTree(root_);
  }

  std::wstring VersionFile() const { return root_ + L"\\ScannerVersion.ini"; }
  std::string Log() const { return LogContent(root_ + L"\\log"); }
  DWORD RunThread() { return UpdateThreadMain(context_.get()); }

  test::FaultEngineControl engine_{L"FaultEngine.dll"};
  std::wstring root_;
  std::unique_ptr<AppContext> context_;
};

TEST_F(DefinitionUpdateJobTest, StopSignalledByAnotherProgramBreaksBeforeAnything) {
  const std::wstring setter = L"\"" + test::ProgramFolder() + L"\\kv_setevent.exe\" \"" + StopEventName() + L"\"";
  ASSERT_EQ(test::RunProgram(setter), 0u);
  const ResultChain result = DefinitionUpdateJob::Run(*context_, std::clock());
  EXPECT_EQ(result.Codes(), std::vector<ErrorCode>{err::BreakInterrupt});
  EXPECT_EQ(engine_.Calls(L"UpdateDefinition"), 0);
  EXPECT_EQ(Log(), "");
  EXPECT_EQ(::GetFileAttributesW(VersionFile().c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(RunThread(), err::ThUpdate);
}

// The stop comes while the clean-up runs: the second check ends the run before the
// engine is called.
AppContext* g_stoppingContext = nullptr;
ResultChain CleanupThatSeesAStop(const std::wstring&, const std::wstring&) {
  ::SetEvent(g_stoppingContext->StopEvent());
  return {};
}

TEST_F(DefinitionUpdateJobTest, StopSignalledDuringTheCleanupBreaksBeforeTheEngine) {
  g_stoppingContext = context_.get();
  const ResultChain result = DefinitionUpdateJob::Run(*context_, std::clock(), &CleanupThatSeesAStop);
  EXPECT_EQ(result.Codes(), std::vector<ErrorCode>{err::BreakInterrupt});
  EXPECT_EQ(engine_.Calls(L"UpdateDefinition"), 0);
  EXPECT_EQ(Log(), "");
}

// A clean-up refused because users could steer it is said in the record; the update
// still runs. Other clean-up outcomes are not the record's concern.
ResultChain RefusedCleanup(const std::wstring&, const std::wstring&) { return KV_MARK(err::InvalidParent); }
ResultChain NothingToClean(const std::wstring&, const std::wstring&) { return KV_MARK(err::InvalidPath); }

TEST_F(DefinitionUpdateJobTest, ARefusedCleanupIsRecordedAndTheUpdateGoesOn) {
  EXPECT_OK(DefinitionUpdateJob::Run(*context_, std::clock(), &RefusedCleanup));
  EXPECT_NE(Log().find("Cleanup=0x617A0018:InvalidParent,Line("), std::string::npos) << Log();
  EXPECT_NE(Log().find("Result=0x0:Success\r\n"), std::string::npos) << Log();
  EXPECT_OK(DefinitionUpdateJob::Run(*context_, std::clock(), &NothingToClean));
  EXPECT_EQ(Log().find("Cleanup=0x617A0081"), std::string::npos) << Log();
}

// No definition folder, so no place beside it: the version file is refused, not written
// into the current folder, and the refusal is logged.
TEST_F(DefinitionUpdateJobTest, EmptyDefinitionFolderWritesNoVersionFileAndLogsWhy) {
  IniDocument settings;
  ASSERT_OK(context_->GetSettings(settings));
  (void)settings.SetString(L"DefDatFolder", L"", L"AntiVirus");
  ASSERT_OK(context_->SetSettings(settings));
  wchar_t current[MAX_PATH + 1] = {};
  ASSERT_GT(::GetCurrentDirectoryW(MAX_PATH, current), 0u);
  const std::wstring stray = std::wstring(current) + L"\\ScannerVersion.ini";
  ::DeleteFileW(stray.c_str());
  EXPECT_EQ(RunThread(), 0u);
  EXPECT_EQ(::GetFileAttributesW(stray.c_str()), INVALID_FILE_ATTRIBUTES);
  const std::size_t record = Log().find("[VersionFile_");
  EXPECT_NE(record, std::string::npos) << Log();
  EXPECT_NE(Log().find("]\r\nResult=0x617A0029:InvalidFolder,Line(", record), std::string::npos) << Log();
}

TEST_F(DefinitionUpdateJobTest, SuccessfulRunLogsAndWritesTheVersionFile) {
  engine_.Configure(L"DefinitionVersion=20261207");
  EXPECT_EQ(RunThread(), 0u);
  const std::string log = Log();
  EXPECT_NE(log.find("[Update_"), std::string::npos);
  EXPECT_NE(log.find("DefinitionVersion=20261207\r\nEngineVersion=fault-1\r\nResult=0x0:Success\r\nTotalTime="),
            std::string::npos)
      << log;
  const std::string version = test::ReadFileBytes(VersionFile());
  EXPECT_NE(version.find("DefinitionPath=Defs\r\n"), std::string::npos) << version;
  EXPECT_EQ(version.find("Result="), std::string::npos);
  EXPECT_EQ(version.find("TotalTime="), std::string::npos);
}

TEST_F(DefinitionUpdateJobTest, AlreadyCurrentStillWritesTheVersionFileAndEndsWithThUpdate) {
  engine_.Configure(L"UpdateResult=AlreadyLatest");
  EXPECT_EQ(RunThread(), err::ThUpdate);
  EXPECT_NE(test::ReadFileBytes(VersionFile()).find("[ScannerVersion]"), std::string::npos);
  EXPECT_NE(Log().find("Result=0x32880003:The definition file is up-to-date.,"), std::string::npos);
}

TEST_F(DefinitionUpdateJobTest, FailedUpdateIsLoggedWithoutAVersionFile) {
  engine_.Configure(L"UpdateResult=Fail");
  EXPECT_EQ(RunThread(), err::ThUpdate);
  EXPECT_NE(Log().find("Result=0x7ED00004:FaultUpdate,"), std::string::npos) << Log();
  EXPECT_EQ(::GetFileAttributesW(VersionFile().c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(DefinitionUpdateJobTest, EngineThatLostItsInitialisationIsGivenTheSameSettings) {
  engine_.Configure(L"NotInitializedAfterUpdate=1");
  EXPECT_EQ(RunThread(), 0u);
  EXPECT_EQ(engine_.Calls(L"Initialize"), 1);
  IniDocument settings;
  ASSERT_OK(context_->GetSettings(settings));
  const std::string expectedLength = "SettingsLength=" + std::to_string(settings.ToText().size());
  EXPECT_NE(Log().find("[Update_"), std::string::npos);
  EXPECT_NE(Log().find(expectedLength), std::string::npos) << "the log holds the initialisation's result\n" << Log();
}

}  // namespace
}  // namespace kv
