#include "foundation/FileSystem.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/ErrorCodes.h"
#include "support/WinTestUtil.h"

namespace kv {
namespace {

TEST(NormalizePath, TableOfForms) {
  struct Case {
    const wchar_t* in;
    const wchar_t* out;
  };
  const Case cases[] = {
      {L"C:/Logs/./old/../Service/", L"C:\\Logs\\Service"},
      {L"\\??\\C:\\Temp", L"C:\\Temp"},
      {L"\\\\server\\share\\x\\", L"\\\\server\\share\\x"},
      {L"..\\a", L"a"},
      {L"C:\\..\\a", L"C:\\a"},
      {L"C:\\a\\b\\..\\..\\..\\c", L"C:\\c"},
      {L"\\\\server\\..\\x", L"\\\\x"},
      {L"\\\\server\\share\\..", L"\\\\server"},
      {L"a\\\\\\b//c", L"a\\b\\c"},
      {L"a/?" L"?/b", L"a\\b"},
      {L"\\\\?\\C:\\x", L"\\\\?\\C:\\x"},
      {L"\\leading", L"leading"},
      {L"", L""},
      {L"///", L""},
      {L".", L""},
      {L"\\\\", L"\\"},
      {L"a\\.\\b\\.", L"a\\b"},
      {L"a\\..b\\...", L"a\\..b\\..."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(NormalizePath(c.in), c.out);
  }
}

TEST(FileSize, ReadsSizesAndReportsMissingFiles) {
  const std::wstring folder = test::FreshFolder(L"filesize");
  const std::wstring empty = folder + L"\\empty.bin";
  const std::wstring five = folder + L"\\five.bin";
  ASSERT_TRUE(test::WriteFileBytes(empty, ""));
  ASSERT_TRUE(test::WriteFileBytes(five, std::string("ab\0cd", 5)));

  std::uint64_t size = 99;
  EXPECT_FALSE(FileSize(empty, size).Failed());
  EXPECT_EQ(size, 0u);
  EXPECT_FALSE(FileSize(five, size).Failed());
  EXPECT_EQ(size, 5u);
  const ResultChain missing = FileSize(folder + L"\\missing.bin", size);
  ASSERT_EQ(missing.Count(), 2u);
  EXPECT_EQ(missing.Last(), err::FileNotFound);
  EXPECT_TRUE(IsLineMarker(missing.Codes()[0]));
  test::RemoveTree(folder);
}

TEST(LongPathForm, OnlyLongDrivePathsChange) {
  const std::wstring shortPath = L"C:\\a\\..\\b.txt";
  EXPECT_EQ(LongPathForm(shortPath), shortPath);
  const std::wstring segment(100, L'x');
  const std::wstring longPath = L"C:\\" + segment + L"\\.\\" + segment + L"/" + segment + L"\\f.txt";
  EXPECT_EQ(LongPathForm(longPath), L"\\\\?\\C:\\" + segment + L"\\" + segment + L"\\" + segment + L"\\f.txt");
  const std::wstring longUnc = L"\\\\server\\share\\" + segment + segment + segment;
  EXPECT_EQ(LongPathForm(longUnc), longUnc);
  const std::wstring longRelative = segment + L"\\" + segment + L"\\" + segment;
  EXPECT_EQ(LongPathForm(longRelative), longRelative);
}

TEST(FileSize, AcceptsPathsLongerThanTheClassicLimit) {
  const std::wstring root = test::FreshFolder(L"filesize_longpath");
  std::wstring path = root;
  for (int level = 0; level < 5; ++level) {
    path += L"\\" + std::wstring(60, L'd') + std::to_wstring(level);
    ASSERT_TRUE(::CreateDirectoryW((L"\\\\?\\" + path).c_str(), nullptr));
  }
  path += L"\\file.bin";
  ASSERT_GT(path.size(), 300u);
  ASSERT_TRUE(test::WriteFileBytes(L"\\\\?\\" + path, "1234567"));
  std::uint64_t size = 0;
  EXPECT_FALSE(FileSize(path, size).Failed());
  EXPECT_EQ(size, 7u);
  test::RemoveTree(L"\\\\?\\" + root);
}

// Starts kv_holdfile, which holds `path` open without sharing for `holdMs`, and waits
// until it holds the file.
class FileHolder {
 public:
  FileHolder(const std::wstring& path, unsigned holdMs) {
    const std::wstring eventName = L"kv_holdfile_ready_" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
                                   std::to_wstring(holdMs);
    ready_ = ::CreateEventW(nullptr, /*bManualReset=*/TRUE, /*bInitialState=*/FALSE, eventName.c_str());
    std::wstring commandLine = L"\"" + test::ProgramFolder() + L"\\kv_holdfile.exe\" \"" + path + L"\" " +
                               std::to_wstring(holdMs) + L" " + eventName;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    started_ = ::CreateProcessW(/*lpApplicationName=*/nullptr, commandLine.data(), nullptr, nullptr,
                                /*bInheritHandles=*/FALSE, 0, nullptr, nullptr, &startup, &process_) != FALSE;
  }
  ~FileHolder() {
    if (started_) {
      ::WaitForSingleObject(process_.hProcess, 30000);
      ::CloseHandle(process_.hThread);
      ::CloseHandle(process_.hProcess);
    }
    if (ready_ != nullptr) ::CloseHandle(ready_);
  }
  FileHolder(const FileHolder&) = delete;
  FileHolder& operator=(const FileHolder&) = delete;

  // True once the helper holds the file (generous timeout; it may fail early instead).
  bool WaitUntilHeld() {
    if (!started_ || ready_ == nullptr) return false;
    HANDLE handles[] = {ready_, process_.hProcess};
    return ::WaitForMultipleObjects(2, handles, FALSE, 60000) == WAIT_OBJECT_0;
  }
  DWORD ExitCode() {
    ::WaitForSingleObject(process_.hProcess, 30000);
    DWORD code = 99;
    ::GetExitCodeProcess(process_.hProcess, &code);
    return code;
  }

 private:
  HANDLE ready_ = nullptr;
  PROCESS_INFORMATION process_ = {};
  bool started_ = false;
};

TEST(FileSize, WaitsForAFileHeldBriefly) {
  const std::wstring folder = test::FreshFolder(L"filesize_brief");
  const std::wstring path = folder + L"\\held.bin";
  ASSERT_TRUE(test::WriteFileBytes(path, "0123456789"));
  {
    FileHolder holder(path, 500);
    ASSERT_TRUE(holder.WaitUntilHeld());
    std::uint64_t size = 0;
    const ResultChain result = FileSize(path, size);
    EXPECT_FALSE(result.Failed()) << ::testing::PrintToString(result.Codes());
    EXPECT_EQ(size, 10u);
    EXPECT_EQ(holder.ExitCode(), 0u);
  }
  test::RemoveTree(folder);
}

TEST(FileSize, GivesUpOnAFileHeldLonger) {
  const std::wstring folder = test::FreshFolder(L"filesize_long");
  const std::wstring path = folder + L"\\held.bin";
  ASSERT_TRUE(test::WriteFileBytes(path, "0123456789"));
  {
    FileHolder holder(path, 2000);
    ASSERT_TRUE(holder.WaitUntilHeld());
    std::uint64_t size = 77;
    const ResultChain result = FileSize(path, size);
    ASSERT_EQ(result.Count(), 2u) << ::testing::PrintToString(result.Codes());
    EXPECT_EQ(result.Last(), static_cast<ErrorCode>(ERROR_SHARING_VIOLATION));
    EXPECT_TRUE(IsLineMarker(result.Codes()[0]));
    EXPECT_EQ(size, 77u);
    EXPECT_EQ(holder.ExitCode(), 0u);
  }
  // Once released the size is readable again.
  std::uint64_t size = 0;
  EXPECT_FALSE(FileSize(path, size).Failed());
  EXPECT_EQ(size, 10u);
  test::RemoveTree(folder);
}

}  // namespace
}  // namespace kv
