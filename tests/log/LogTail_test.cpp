// Reading the monthly log from its end: records newest first, whole whatever the block
// size cuts them into, and the month files newest first.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/ErrorCodes.h"
#include "log/LogTail.h"
#include "support/WinTestUtil.h"

namespace kv {
namespace {

// Text before the first header, a record whose value holds "[", and a byte of code page
// 1252 (decoded as the service encoded it).
const std::string kLog =
    "stray line\r\n"
    "[NextTime_20261208_030000]\r\n;comment\r\nNextTime=20261209_030000\r\n\r\n"
    "[Update_20261208_030001]\r\nResult=0x0:Success,\r\nSource=\\\\srv\\[defs]\r\n\r\n"
    "[Update_20261208_040000]\r\nResult=0x2:caf\xE9,\r\n\r\n";

std::vector<std::wstring> NamesOf(const std::wstring& path, std::uint32_t blockSize, std::size_t stopAfter = 99) {
  std::vector<std::wstring> names;
  bool stopped = false;
  EXPECT_FALSE(ReadRecordsBackwards(
                   path,
                   [&](const LogRecord& record) {
                     names.push_back(record.name);
                     if (record.name == L"Update_20261208_040000") {
                       EXPECT_EQ(record.text, L"[Update_20261208_040000]\r\nResult=0x2:caf\u00E9,\r\n\r\n");
                     }
                     return names.size() < stopAfter;
                   },
                   stopped, blockSize)
                   .Failed());
  EXPECT_EQ(stopped, names.size() >= stopAfter);
  return names;
}

TEST(LogTail, RecordsComeNewestFirstWhateverTheBlocks) {
  const std::wstring folder = test::FreshFolder(L"kv_log_tail");
  const std::wstring path = folder + L"\\Kv_2026_12.txt";
  ASSERT_TRUE(test::WriteFileBytes(path, kLog));
  const std::vector<std::wstring> all = {L"Update_20261208_040000", L"Update_20261208_030001",
                                         L"NextTime_20261208_030000"};
  for (std::uint32_t block : {1u, 2u, 13u, 50u, 65536u}) {
    SCOPED_TRACE(block);
    EXPECT_EQ(NamesOf(path, block), all);
    EXPECT_EQ(NamesOf(path, block, 1), std::vector<std::wstring>(all.begin(), all.begin() + 1));
  }
  bool stopped = false;
  EXPECT_TRUE(ReadRecordsBackwards(
                  folder + L"\\absent.txt", [](const LogRecord&) { return true; }, stopped)
                  .Contains(err::FileNotFound));
  test::RemoveTree(folder);
}

TEST(LogTail, MonthFilesNewestFirstAndNothingElse) {
  const std::wstring folder = test::FreshFolder(L"kv_log_tail_months");
  for (const wchar_t* name :
       {L"Kv_2026_11.txt", L"Kv_2027_01.txt", L"Kv_2026_12.txt", L"Kv_2026_1.txt", L"notes.txt"}) {
    ASSERT_TRUE(test::WriteFileBytes(folder + L"\\" + name, "[Update_20261101_000000]\r\nResult=0x0:Success,\r\n"));
  }
  EXPECT_EQ(MonthFilesNewestFirst(folder),
            (std::vector<std::wstring>{folder + L"\\Kv_2027_01.txt", folder + L"\\Kv_2026_12.txt",
                                       folder + L"\\Kv_2026_11.txt"}));
  std::vector<std::wstring> files;
  EXPECT_FALSE(ReadLogBackwards(folder, [&](const LogRecord& record) {
                 files.push_back(record.file);
                 return files.size() < 2;
               }).Failed());
  EXPECT_EQ(files, (std::vector<std::wstring>{folder + L"\\Kv_2027_01.txt", folder + L"\\Kv_2026_12.txt"}));
  EXPECT_TRUE(MonthFilesNewestFirst(folder + L"\\absent").empty());
  test::RemoveTree(folder);
}

}  // namespace
}  // namespace kv
