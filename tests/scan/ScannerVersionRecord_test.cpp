#include "scan/ScannerVersionRecord.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <thread>

#include "foundation/ErrorCodes.h"
#include "log/MonthlyLog.h"
#include "support/ResultAssertions.h"
#include "support/WinTestUtil.h"

namespace kv {
namespace {

// 7 December 2026, 05:01:02 local time.
std::time_t RecordTime() {
  std::tm local{};
  local.tm_year = 2026 - 1900;
  local.tm_mon = 11;
  local.tm_mday = 7;
  local.tm_hour = 5;
  local.tm_min = 1;
  local.tm_sec = 2;
  local.tm_isdst = -1;
  return std::mktime(&local);
}

TEST(UpdateLogRecord, ResultWithoutSectionsGetsOneUpdateSection) {
  EXPECT_EQ(UpdateLogRecordText(IniDocument(L""), ResultChain(), 12, RecordTime()),
            L"[Update_20261207_050102]\nResult=0x0:Success\nTotalTime=12\n\n");
}

TEST(UpdateLogRecord, TheEngineSectionInAnyCaseTakesTheNewName) {
  const IniDocument result(L"[Other]\nA=1\n[scannerversion]\nEngineVersion=1.2\nDefinitionPath=\n");
  const ResultChain update = ResultChain(err::AlreadyLastestDefinition) + LineMarker(7);
  EXPECT_EQ(UpdateLogRecordText(result, update, 0, RecordTime()),
            L"[Other]\nA=1\n\n[Update_20261207_050102]\nEngineVersion=1.2\n"
            L"Result=0x32880003:The definition file is up-to-date.,Line(7),\nTotalTime=0\n\n");
}

TEST(UpdateLogRecord, ANameAlreadyTakenKeepsTheOldName) {
  const IniDocument result(L"[Update_20261207_050102]\nX=1\n[ScannerVersion]\nE=2\n");
  EXPECT_EQ(UpdateLogRecordText(result, ResultChain(), 1, RecordTime()),
            L"[Update_20261207_050102]\nX=1\n\n[ScannerVersion]\nE=2\nResult=0x0:Success\nTotalTime=1\n\n");
}

TEST(UpdateLogRecord, AppendsToTheMonthsLogInCrLf) {
  const std::wstring folder = test::FreshFolder(L"record_log");
  MonthlyLog log([] {
    SYSTEMTIME t{};
    t.wYear = 2026;
    t.wMonth = 12;
    t.wDay = 7;
    return t;
  });
  ASSERT_OK(log.SetFolder(folder));
  IniDocument result(L"[ScannerVersion]\nEngineVersion=1\n");
  ASSERT_OK(WriteUpdateLogRecord(log, result, ResultChain(), 3, RecordTime()));
  EXPECT_EQ(test::ReadFileBytes(folder + L"\\Kv_2026_12.txt"),
            "[Update_20261207_050102]\r\nEngineVersion=1\r\nResult=0x0:Success\r\nTotalTime=3\r\n\r\n");
  EXPECT_EQ(result.ToText(), L"[ScannerVersion]\nEngineVersion=1\n\n") << "the job's document is not changed";
  test::RemoveTree(folder);
}

TEST(UpdateLogRecord, NoFolderIsAFailure) {
  MonthlyLog log;
  EXPECT_TRUE(WriteUpdateLogRecord(log, IniDocument(L""), ResultChain(), 0).Contains(err::FileNotFound));
}

class ScannerVersionFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = test::FreshFolder(L"scanner_version");
    ASSERT_TRUE(::CreateDirectoryW((root_ + L"\\Defs").c_str(), nullptr));
    (void)settings_.SetString(L"DefDatFolder", root_ + L"\\Defs", L"AntiVirus");
  }
  void TearDown() override { test::RemoveTree(root_); }
  std::wstring File() const { return root_ + L"\\ScannerVersion.ini"; }

  std::wstring root_;
  IniDocument settings_;
};

TEST_F(ScannerVersionFileTest, WrittenBesideTheDefinitionsInAnsiWithCrLf) {
  IniDocument result(L"[ScannerVersion]\nEngineVersion=1.0\nDefinitionDate=caf\u00e9\n[Extra]\nK=V\n");
  ASSERT_OK(WriteScannerVersionFile(settings_, result));
  EXPECT_EQ(test::ReadFileBytes(File()),
            "[ScannerVersion]\r\nDefinitionDate=caf\xe9\r\nDefinitionPath=Defs\r\nEngineVersion=1.0\r\n\r\n"
            "[Extra]\r\nK=V\r\n\r\n");
  EXPECT_EQ(result.GetString(L"DefinitionPath", L"", L"ScannerVersion"), L"Defs");
  EXPECT_EQ(test::ReadFileBytes(File()).find("TotalTime"), std::string::npos);
}

TEST_F(ScannerVersionFileTest, ReadOnlySystemFileIsReplaced) {
  ASSERT_TRUE(test::WriteFileBytes(File(), "old"));
  ASSERT_TRUE(::SetFileAttributesW(File().c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM));
  IniDocument result(L"[ScannerVersion]\nEngineVersion=2\n");
  EXPECT_OK(WriteScannerVersionFile(settings_, result));
  EXPECT_EQ(test::ReadFileBytes(File()), "[ScannerVersion]\r\nDefinitionPath=Defs\r\nEngineVersion=2\r\n\r\n");
}

TEST_F(ScannerVersionFileTest, AFailedWriteKeepsTheOldFile) {
  ASSERT_TRUE(test::WriteFileBytes(File(), "old"));
  // The staging name is taken by a folder, so the new file cannot be written.
  ASSERT_TRUE(::CreateDirectoryW((File() + L".new").c_str(), nullptr));
  IniDocument result(L"[ScannerVersion]\nEngineVersion=2\n");
  EXPECT_NE(WriteScannerVersionFile(settings_, result).Count(), 0u);
  EXPECT_EQ(test::ReadFileBytes(File()), "old");
}

// A reader holds the old file while it is replaced. Whether or not it allows deletion,
// the file is never lost: it is replaced, or the old one stays as it was. A reader that
// lets go soon, as one polling the file does, does not keep the new one out.
TEST_F(ScannerVersionFileTest, AReaderNeverCostsTheFile) {
  struct Case {
    DWORD sharing;
    DWORD heldMs;  // INFINITE: held until the write has returned
  };
  const DWORD all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  for (const Case& c :
       {Case{all, INFINITE}, Case{FILE_SHARE_READ, INFINITE}, Case{FILE_SHARE_READ | FILE_SHARE_WRITE, 100}}) {
    SCOPED_TRACE(c.sharing);
    ASSERT_TRUE(test::WriteFileBytes(File(), "old"));
    HANDLE reader = ::CreateFileW(File().c_str(), GENERIC_READ, c.sharing, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    std::thread letGo;
    if (c.heldMs != INFINITE) {
      letGo = std::thread([&] {
        ::Sleep(c.heldMs);
        ::CloseHandle(reader);
      });
    }
    IniDocument result(L"[ScannerVersion]\nEngineVersion=2\n");
    const bool replaced = WriteScannerVersionFile(settings_, result).Succeeded();
    if (letGo.joinable()) {
      letGo.join();
    } else {
      ::CloseHandle(reader);
    }
    const std::string now = test::ReadFileBytes(File());
    EXPECT_EQ(now, replaced ? "[ScannerVersion]\r\nDefinitionPath=Defs\r\nEngineVersion=2\r\n\r\n" : "old");
    if (c.heldMs != INFINITE) {
      EXPECT_TRUE(replaced) << "a reader that lets go soon";
    }
    EXPECT_EQ(::GetFileAttributesW((File() + L".new").c_str()), INVALID_FILE_ATTRIBUTES);
  }
}

TEST_F(ScannerVersionFileTest, FolderWithTrailingSeparatorHasNoDefinitionPath) {
  (void)settings_.SetString(L"DefDatFolder", root_ + L"\\Defs\\", L"AntiVirus");
  IniDocument result(L"[ScannerVersion]\nEngineVersion=3\n");
  ASSERT_OK(WriteScannerVersionFile(settings_, result));
  // An empty name: the file still lands beside the definition folder.
  const std::wstring file = root_ + L"\\ScannerVersion.ini";
  EXPECT_EQ(test::ReadFileBytes(file), "[ScannerVersion]\r\nEngineVersion=3\r\n\r\n");
}

TEST(DeleteFileForced, MissingFileGivesTheSystemError) {
  EXPECT_EQ(DeleteFileForced(test::ProgramFolder() + L"\\no_such_file.ini").Last(),
            static_cast<ErrorCode>(ERROR_FILE_NOT_FOUND));
}

}  // namespace
}  // namespace kv
