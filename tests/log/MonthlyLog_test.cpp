#include "log/MonthlyLog.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "foundation/ErrorCodes.h"
#include "kernel/HandleHolder.h"
#include "kernel/MutexHolder.h"
#include "kernel/WorkerThread.h"
#include "support/WinTestUtil.h"

namespace kv {
namespace {

SYSTEMTIME LocalTime(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second) {
  SYSTEMTIME t{};
  t.wYear = year;
  t.wMonth = month;
  t.wDay = day;
  t.wHour = hour;
  t.wMinute = minute;
  t.wSecond = second;
  return t;
}

// A log in a fresh folder whose clock the test sets.
struct LogFixture {
  explicit LogFixture(const wchar_t* name) : folder(test::FreshFolder(name)), log([this] { return now; }) {
    setFolder = log.SetFolder(folder);
  }
  ~LogFixture() { test::RemoveTree(folder); }
  std::wstring File(WORD year, WORD month) const {
    wchar_t name[32];
    swprintf(name, 32, L"\\Kv_%04u_%02u.txt", static_cast<unsigned>(year), static_cast<unsigned>(month));
    return folder + name;
  }

  std::wstring folder;
  SYSTEMTIME now = LocalTime(2024, 3, 15, 12, 0, 0);
  MonthlyLog log;
  ResultChain setFolder;
};

TEST(MonthlyLogTest, LineBreaksBecomeCrLfAndNothingIsAdded) {
  struct Case {
    const wchar_t* entry;
    const char* bytes;
  };
  const Case cases[] = {
      {L"[A]\nB=1\n", "[A]\r\nB=1\r\n"},
      {L"[A]\r\nB=1\r\n", "[A]\r\nB=1\r\n"},
      {L"a\rb", "a\rb"},
      {L"a\r\r\nb", "a\r\r\nb"},
      {L"a\n\rb\n\n", "a\r\n\rb\r\n\r\n"},
      {L"plain", "plain"},
  };
  for (const Case& c : cases) {
    LogFixture f(L"log_breaks");
    ASSERT_FALSE(f.setFolder.Failed());
    ::SetLastError(0xDEADBEEF);
    EXPECT_FALSE(f.log.Write(c.entry).Failed());
    EXPECT_EQ(std::string(c.bytes), test::ReadFileBytes(f.File(2024, 3))) << "entry: " << testing::PrintToString(std::wstring(c.entry));
  }
}

TEST(MonthlyLogTest, EntriesFollowEachOtherDirectly) {
  LogFixture f(L"log_order");
  ASSERT_FALSE(f.setFolder.Failed());
  EXPECT_FALSE(f.log.Write(L"[First]\nA=1\n").Failed());
  EXPECT_FALSE(f.log.Write(L"[Second]\nB=2\n").Failed());
  EXPECT_FALSE(f.log.Write(L"[Third]").Failed());
  EXPECT_EQ("[First]\r\nA=1\r\n[Second]\r\nB=2\r\n[Third]", test::ReadFileBytes(f.File(2024, 3)));
}

TEST(MonthlyLogTest, AnsiCodePageWithoutBestFitAndWithoutByteOrderMark) {
  CPINFO info{};
  ASSERT_TRUE(::GetCPInfo(CP_ACP, &info));
  const char fallback = static_cast<char>(info.DefaultChar[0]);

  LogFixture f(L"log_codepage");
  ASSERT_FALSE(f.setFolder.Failed());
  // U+0100 would best-fit to "A" and U+3042 has no counterpart in the western code pages.
  ASSERT_FALSE(f.log.Write(L"x\u0100y\u3042z").Failed());
  const std::string bytes = test::ReadFileBytes(f.File(2024, 3));
  if (::GetACP() == 1252) {
    EXPECT_EQ(std::string("x") + fallback + "y" + fallback + "z", bytes);
    ASSERT_FALSE(f.log.Write(L"\u00e9").Failed());
    EXPECT_EQ(std::string("x") + fallback + "y" + fallback + "z\xE9", test::ReadFileBytes(f.File(2024, 3)));
  } else {
    ASSERT_GE(bytes.size(), 3u);
    EXPECT_EQ('x', bytes.front()) << "no byte-order mark";
    EXPECT_EQ('z', bytes.back());
    EXPECT_EQ(std::string::npos, bytes.find("xAy")) << "no best-fit mapping";
  }
}

TEST(MonthlyLogTest, FirstEntryOfAMonthStartsANewFileAndLeavesTheOldOne) {
  LogFixture f(L"log_month");
  ASSERT_FALSE(f.setFolder.Failed());
  f.now = LocalTime(2023, 12, 31, 23, 59, 59);
  ASSERT_FALSE(f.log.Write(L"[Old]\n").Failed());
  f.now = LocalTime(2024, 1, 1, 0, 0, 0);
  ASSERT_FALSE(f.log.Write(L"[New]\n").Failed());
  f.now = LocalTime(2024, 1, 31, 23, 59, 59);
  ASSERT_FALSE(f.log.Write(L"[Late]\n").Failed());
  f.now = LocalTime(2024, 2, 1, 0, 0, 0);
  ASSERT_FALSE(f.log.Write(L"[Feb]\n").Failed());

  EXPECT_EQ("[Old]\r\n", test::ReadFileBytes(f.File(2023, 12)));
  EXPECT_EQ("[New]\r\n[Late]\r\n", test::ReadFileBytes(f.File(2024, 1)));
  EXPECT_EQ("[Feb]\r\n", test::ReadFileBytes(f.File(2024, 2)));
  EXPECT_EQ(f.folder + L"\\Kv_2024_02.txt", f.log.MonthFile(f.now));
}

TEST(MonthlyLogTest, RealClockNamesTheCurrentMonth) {
  const std::wstring folder = test::FreshFolder(L"log_realclock");
  MonthlyLog log;
  ASSERT_FALSE(log.SetFolder(folder).Failed());
  SYSTEMTIME before{};
  ::GetLocalTime(&before);
  ASSERT_FALSE(log.Write(L"[Now]\n").Failed());
  SYSTEMTIME after{};
  ::GetLocalTime(&after);
  wchar_t name[64];
  swprintf(name, 64, L"\\Kv_%04u_%02u.txt", static_cast<unsigned>(before.wYear), static_cast<unsigned>(before.wMonth));
  const std::string first = test::ReadFileBytes(folder + name);
  swprintf(name, 64, L"\\Kv_%04u_%02u.txt", static_cast<unsigned>(after.wYear), static_cast<unsigned>(after.wMonth));
  const std::string second = test::ReadFileBytes(folder + name);
  EXPECT_TRUE(first == "[Now]\r\n" || second == "[Now]\r\n");
  test::RemoveTree(folder);
}

bool AnyMonthFileIn(const std::wstring& folder) {
  WIN32_FIND_DATAW data;
  HANDLE find = ::FindFirstFileW((folder + L"\\Kv_*.txt").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  ::FindClose(find);
  return true;
}

TEST(MonthlyLogTest, WithoutFolderWriteIsFileNotFoundAndCreatesNothing) {
  wchar_t current[MAX_PATH] = {};
  ::GetCurrentDirectoryW(MAX_PATH, current);
  const bool hadHere = AnyMonthFileIn(current);
  const bool hadBeside = AnyMonthFileIn(test::ProgramFolder());

  MonthlyLog log;
  EXPECT_TRUE(log.Folder().empty());
  EXPECT_EQ(err::FileNotFound, log.Write(L"[A]\n").Last());
  EXPECT_FALSE(log.SetFolder(L"").Failed());
  EXPECT_TRUE(log.Folder().empty());
  EXPECT_EQ(err::FileNotFound, log.Write(L"[B]\n").Last());

  EXPECT_EQ(hadHere, AnyMonthFileIn(current));
  EXPECT_EQ(hadBeside, AnyMonthFileIn(test::ProgramFolder()));
}

TEST(MonthlyLogTest, FileHeldWithoutSharingKeepsItsContentAndTheEntryIsSkipped) {
  LogFixture f(L"log_locked");
  ASSERT_FALSE(f.setFolder.Failed());
  ASSERT_FALSE(f.log.Write(L"[Kept]\n").Failed());
  {
    HandleHolder held(INVALID_HANDLE_VALUE);
    ASSERT_FALSE(held.Attach(::CreateFileW(f.File(2024, 3).c_str(), GENERIC_READ | GENERIC_WRITE, /*dwShareMode=*/0,
                                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr))
                     .Failed());
    EXPECT_FALSE(f.log.Write(L"[Lost]\n").Failed()) << "a skipped entry is not reported";
  }
  EXPECT_EQ("[Kept]\r\n", test::ReadFileBytes(f.File(2024, 3)));
  ASSERT_FALSE(f.log.Write(L"[After]\n").Failed());
  EXPECT_EQ("[Kept]\r\n[After]\r\n", test::ReadFileBytes(f.File(2024, 3)));
}

TEST(MonthlyLogTest, AppendsWhileAnotherProgramWritesTheFileWithoutReadSharing) {
  LogFixture f(L"log_writeshare");
  ASSERT_FALSE(f.setFolder.Failed());
  ASSERT_FALSE(f.log.Write(L"[A]\n").Failed());
  {
    // Such a holder keeps anyone from reading the file, but not from appending to it.
    HandleHolder other(INVALID_HANDLE_VALUE);
    ASSERT_FALSE(other.Attach(::CreateFileW(f.File(2024, 3).c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr))
                     .Failed());
    EXPECT_FALSE(f.log.Write(L"[B]\n").Failed());
  }
  EXPECT_EQ("[A]\r\n[B]\r\n", test::ReadFileBytes(f.File(2024, 3)));
}

struct BriefHold {
  std::wstring path;
  HANDLE holding = nullptr;  // event set once the file is held
};

DWORD WINAPI HoldBriefly(void* parameter) {
  auto* hold = static_cast<BriefHold*>(parameter);
  HANDLE file = ::CreateFileW(hold->path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ::SetEvent(hold->holding);
  if (file == INVALID_HANDLE_VALUE) return 1;
  ::Sleep(100);
  ::CloseHandle(file);
  return 0;
}

TEST(MonthlyLogTest, FileHeldBrieflyIsWaitedFor) {
  LogFixture f(L"log_brief");
  ASSERT_FALSE(f.setFolder.Failed());
  ASSERT_FALSE(f.log.Write(L"[One]\n").Failed());
  HandleHolder holding;
  ASSERT_FALSE(holding.Attach(::CreateEventW(nullptr, TRUE, FALSE, nullptr)).Failed());
  BriefHold hold{f.File(2024, 3), holding.Get()};
  WorkerThread thread;
  ASSERT_FALSE(thread.Start(&HoldBriefly, &hold).Failed());
  ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), ::WaitForSingleObject(holding.Get(), 30000));
  EXPECT_FALSE(f.log.Write(L"[Two]\n").Failed());
  ASSERT_TRUE(thread.Wait(30000).Contains(err::WaitFinish));
  DWORD exitCode = 9;
  ::GetExitCodeThread(thread.Get(), &exitCode);
  ASSERT_EQ(0u, exitCode);
  EXPECT_EQ("[One]\r\n[Two]\r\n", test::ReadFileBytes(f.File(2024, 3)));
}

TEST(MonthlyLogTest, RemovedFolderMakesLaterEntriesSkipSilently) {
  LogFixture f(L"log_removed");
  ASSERT_FALSE(f.setFolder.Failed());
  ASSERT_FALSE(f.log.Write(L"[Before]\n").Failed());
  test::RemoveTree(f.folder);
  ASSERT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(f.folder.c_str()));

  for (int i = 0; i < 3; ++i) EXPECT_FALSE(f.log.Write(L"[Gone]\n").Failed());
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(f.folder.c_str())) << "the folder is not made again";
  EXPECT_EQ(f.folder, f.log.Folder());
}

// Another writer holds the log's mutex: a brief hold is waited for, a hang is not
// waited out (the append gives up after its limit and skips only this entry).
struct MutexHold {
  HANDLE acquired;
  HANDLE release;  // the hold ends when it is set, or after holdMs
  DWORD holdMs;
};

DWORD WINAPI HoldLogMutex(void* parameter) {
  auto& hold = *static_cast<MutexHold*>(parameter);
  MutexHolder mutex;
  if (mutex.Create(MonthlyLog::MutexName(), /*acquire=*/false).Failed() || mutex.Lock(INFINITE).Failed()) return 1;
  ::SetEvent(hold.acquired);
  ::WaitForSingleObject(hold.release, hold.holdMs);
  return 0;  // the holder's close releases the mutex
}

DWORD WINAPI WriteSkipped(void* log) {
  return static_cast<MonthlyLog*>(log)->Write(L"[Skipped]\n").Failed() ? 1 : 0;
}

TEST(MonthlyLogTest, MutexHeldElsewhereIsWaitedForButNotForever) {
  LogFixture f(L"log_mutex_held");
  ASSERT_FALSE(f.setFolder.Failed());
  HandleHolder acquired, release;
  ASSERT_FALSE(acquired.Attach(::CreateEventW(nullptr, FALSE, FALSE, nullptr)).Failed());
  ASSERT_FALSE(release.Attach(::CreateEventW(nullptr, TRUE, FALSE, nullptr)).Failed());

  MutexHold brief{acquired.Get(), release.Get(), 1000};
  WorkerThread briefHolder;
  ASSERT_FALSE(briefHolder.Start(&HoldLogMutex, &brief).Failed());
  ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), ::WaitForSingleObject(acquired.Get(), 30000));
  EXPECT_FALSE(f.log.Write(L"[Waited]\n").Failed());
  ASSERT_TRUE(briefHolder.Wait(30000).Contains(err::WaitFinish));

  MutexHold hung{acquired.Get(), release.Get(), INFINITE};
  WorkerThread hungHolder;
  ASSERT_FALSE(hungHolder.Start(&HoldLogMutex, &hung).Failed());
  ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), ::WaitForSingleObject(acquired.Get(), 30000));
  WorkerThread writer;
  ASSERT_FALSE(writer.Start(&WriteSkipped, &f.log).Failed());
  // Its limit is 10 s; without one the write would wait as long as the holder hangs.
  EXPECT_TRUE(writer.Wait(60000).Contains(err::WaitFinish)) << "the write waited for a hung holder";
  ::SetEvent(release.Get());
  ASSERT_TRUE(hungHolder.Wait(30000).Contains(err::WaitFinish));
  ASSERT_TRUE(writer.Wait(30000).Contains(err::WaitFinish));
  EXPECT_EQ("[Waited]\r\n", test::ReadFileBytes(f.File(2024, 3)));
}

TEST(MonthlyLogTest, MutexNameIsTheSharedOne) {
  EXPECT_STREQ(L"SulvaneLog_92B41523_6CCE_4409_AD5A_619E4E0D64BF", MonthlyLog::MutexName());
  MonthlyLog log;  // keeps the mutex in existence
  HANDLE opened = ::OpenMutexW(SYNCHRONIZE, FALSE, MonthlyLog::MutexName());
  EXPECT_NE(nullptr, opened);
  if (opened != nullptr) ::CloseHandle(opened);
}

}  // namespace
}  // namespace kv

namespace kv {
namespace {

// Runs only with Wine in code page 932.
TEST(CodePage932MonthlyLogTest, EntriesAreStoredInTheJapaneseCodePage) {
  ASSERT_EQ(932u, ::GetACP());
  CPINFO info{};
  ASSERT_TRUE(::GetCPInfo(CP_ACP, &info));
  const char fallback = static_cast<char>(info.DefaultChar[0]);

  const std::wstring folder = test::FreshFolder(L"log_cp932");
  SYSTEMTIME fixed{};
  fixed.wYear = 2024;
  fixed.wMonth = 5;
  fixed.wDay = 1;
  MonthlyLog log([fixed] { return fixed; });
  ASSERT_FALSE(log.SetFolder(folder).Failed());
  // Hiragana A is 82 A0 in code page 932; e-acute has no place in it and would best-fit
  // to "e" without WC_NO_BEST_FIT_CHARS.
  ASSERT_FALSE(log.Write(L"[\u3042]\n\u00e9\n").Failed());
  EXPECT_EQ(std::string("[\x82\xA0]\r\n") + fallback + "\r\n", test::ReadFileBytes(log.MonthFile(fixed)));
  test::RemoveTree(folder);
}

}  // namespace
}  // namespace kv
