#include "foundation/FileSystem.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/ErrorCodes.h"
#include "support/WinTestUtil.h"
#include "support/StartService.h"

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

// `head` carried on by folders of x's to exactly `length` units.
std::wstring PathOfLength(std::wstring head, std::size_t length) {
  while (length - head.size() > 101) head += L"\\" + std::wstring(100, L'x');
  if (length > head.size()) head += L"\\" + std::wstring(length - head.size() - 1, L'x');
  return head;
}

TEST(LongPathForm, TableOfForms) {
  wchar_t current[MAX_PATH] = {};
  ASSERT_GT(::GetCurrentDirectoryW(MAX_PATH, current), 0u);
  const std::wstring cwd = NormalizePath(current);
  ASSERT_TRUE(cwd.size() > 3 && cwd.size() < 200 && cwd[1] == L':') << "needs a drive folder as current folder";
  const auto relative = [&](std::size_t fullLength) { return PathOfLength(L"r", fullLength - cwd.size() - 1); };
  const std::wstring drive = L"\\\\?\\";
  const std::wstring unc = L"\\\\?\\UNC\\";
  const std::wstring segment(100, L'x');
  const std::wstring messy = L"C:\\" + segment + L"\\.\\" + segment + L"/a/../" + segment + L"\\f.txt";
  struct Case {
    const char* what;
    std::wstring in;
    PathKind kind;
    std::wstring out;
  };
  const std::wstring d259 = PathOfLength(L"C:", 259), d260 = PathOfLength(L"C:", 260);
  const std::wstring d247 = PathOfLength(L"C:", 247), d248 = PathOfLength(L"C:", 248);
  const std::wstring u259 = PathOfLength(L"\\\\srv\\share", 259), u260 = PathOfLength(L"\\\\srv\\share", 260);
  const std::wstring u247 = PathOfLength(L"\\\\srv\\share", 247), u248 = PathOfLength(L"\\\\srv\\share", 248);
  const std::wstring r259 = relative(259), r260 = relative(260), r247 = relative(247), r248 = relative(248);
  const std::wstring rooted = PathOfLength(L"", 300 - 2);
  const Case cases[] = {
      {"short drive file", L"C:\\a\\..\\b.txt", PathKind::File, L"C:\\a\\..\\b.txt"},
      {"drive file 259", d259, PathKind::File, d259},
      {"drive file 260", d260, PathKind::File, drive + d260},
      {"drive folder 247", d247, PathKind::Folder, d247},
      {"drive folder 248", d248, PathKind::Folder, drive + d248},
      {"drive 248 as a file", d248, PathKind::File, d248},
      {"unc file 259", u259, PathKind::File, u259},
      {"unc file 260", u260, PathKind::File, unc + u260.substr(2)},
      {"unc folder 247", u247, PathKind::Folder, u247},
      {"unc folder 248", u248, PathKind::Folder, unc + u248.substr(2)},
      {"relative file 259", r259, PathKind::File, r259},
      {"relative file 260", r260, PathKind::File, drive + cwd + L"\\" + r260},
      {"relative folder 247", r247, PathKind::Folder, r247},
      {"relative folder 248", r248, PathKind::Folder, drive + cwd + L"\\" + r248},
      {"rooted on the current drive", rooted, PathKind::File, drive + cwd.substr(0, 2) + rooted},
      {"normalised", messy, PathKind::File, drive + L"C:\\" + segment + L"\\" + segment + L"\\" + segment + L"\\f.txt"},
      {"unc with slashes", L"//srv/share/" + segment + L"/" + segment + L"/" + segment, PathKind::File,
       unc + L"srv\\share\\" + segment + L"\\" + segment + L"\\" + segment},
      {"already extended", drive + d260, PathKind::File, drive + d260},
      {"already extended unc", unc + u260.substr(2), PathKind::Folder, unc + u260.substr(2)},
      {"device namespace", L"\\\\.\\" + d260, PathKind::File, L"\\\\.\\" + d260},
      {"above the drive", L"C:\\..\\" + d260.substr(3), PathKind::File, L"C:\\..\\" + d260.substr(3)},
      {"above the share", L"\\\\srv\\share\\..\\" + d260.substr(3), PathKind::File,
       L"\\\\srv\\share\\..\\" + d260.substr(3)},
      {"trailing dot", d260 + L".", PathKind::File, d260 + L"."},
      {"trailing space", d260 + L" ", PathKind::Folder, d260 + L" "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(LongPathForm(c.in, c.kind), c.out);
  }
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
    started_ = ::kv::test::CreateProcessRetrying(commandLine.data(), FALSE, 0, &startup, &process_) != FALSE;
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
