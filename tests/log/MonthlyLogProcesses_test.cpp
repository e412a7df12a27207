// Several programs appending to the same month's file at once.
#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "log/MonthlyLog.h"
#include "kernel/HandleHolder.h"
#include "support/WinTestUtil.h"
#include "support/StartService.h"

namespace kv {
namespace {

constexpr unsigned kWriters = 4;
constexpr unsigned kEntries = 300;

std::wstring UniqueName(const wchar_t* base) {
  return std::wstring(base) + L"_" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
         std::to_wstring(::GetTickCount64());
}

HandleHolder Launch(const std::wstring& arguments) {
  std::wstring command = L"\"" + test::ProgramFolder() + L"\\kv_logwriter.exe\" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  HandleHolder process;
  if (::kv::test::CreateProcessRetrying(command.data(), FALSE, 0, &startup, &info)) {
    (void)process.Attach(info.hProcess);
    ::CloseHandle(info.hThread);
  }
  return process;
}

// The data line kv_logwriter writes for writer `id`, entry `index`.
std::string ExpectedData(unsigned id, unsigned index) {
  return "Data=" + std::string(10 + (index * 7 + id) % 60, static_cast<char>('a' + id % 26));
}

// Checks that the file holds, for every writer, entries 0..count-1 exactly once, whole,
// in order, and nothing else.
void ExpectAllEntriesWholeAndInOrder(const std::string& bytes, unsigned writers, unsigned count) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < bytes.size()) {
    const std::size_t end = bytes.find("\r\n", at);
    ASSERT_NE(std::string::npos, end) << "the file ends inside a line";
    lines.push_back(bytes.substr(at, end - at));
    at = end + 2;
  }
  ASSERT_EQ(0u, lines.size() % 2);
  std::map<unsigned, unsigned> next;
  for (std::size_t i = 0; i < lines.size(); i += 2) {
    unsigned id = 0;
    unsigned index = 0;
    char close = 0;
    ASSERT_EQ(3, std::sscanf(lines[i].c_str(), "[Writer%u:%u%c", &id, &index, &close)) << lines[i];
    ASSERT_EQ(']', close) << lines[i];
    ASSERT_LT(id, writers) << lines[i];
    ASSERT_EQ(next[id], index) << "writer " << id << " out of order or repeated";
    ASSERT_EQ(ExpectedData(id, index), lines[i + 1]) << "entry " << lines[i] << " torn";
    ++next[id];
  }
  for (unsigned id = 0; id < writers; ++id) EXPECT_EQ(count, next[id]) << "writer " << id;
}

struct Writers {
  std::wstring folder;
  HandleHolder start;
  std::vector<HandleHolder> processes;

  explicit Writers(const wchar_t* name) : folder(test::FreshFolder(name)) {
    const std::wstring startName = UniqueName(L"KvTest_LogStart");
    (void)start.Attach(::CreateEventW(nullptr, TRUE, FALSE, startName.c_str()));
    for (unsigned id = 0; id < kWriters; ++id) {
      processes.push_back(Launch(L"write \"" + folder + L"\" " + std::to_wstring(id) + L" " +
                                 std::to_wstring(kEntries) + L" " + startName));
    }
  }
  ~Writers() {
    for (HandleHolder& p : processes) {
      if (p.IsOpen() && ::WaitForSingleObject(p.Get(), 0) == WAIT_TIMEOUT) ::TerminateProcess(p.Get(), 9);
    }
    test::RemoveTree(folder);
  }
  void Go() { ::SetEvent(start.Get()); }
  // Every writer ended with exit code 0 within the time-out.
  bool AllFinished(DWORD timeoutMs) {
    for (HandleHolder& p : processes) {
      if (!p.IsOpen() || ::WaitForSingleObject(p.Get(), timeoutMs) != WAIT_OBJECT_0) return false;
      DWORD code = 1;
      if (!::GetExitCodeProcess(p.Get(), &code) || code != 0) return false;
    }
    return true;
  }
  std::wstring MonthFile() const {
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    wchar_t name[32];
    swprintf(name, 32, L"\\Kv_%04u_%02u.txt", static_cast<unsigned>(now.wYear), static_cast<unsigned>(now.wMonth));
    return folder + name;
  }
};

TEST(MonthlyLogProcessesTest, ConcurrentWritersLoseAndTearNothing) {
  Writers writers(L"log_processes");
  for (const HandleHolder& p : writers.processes) ASSERT_TRUE(p.IsOpen());
  writers.Go();
  ASSERT_TRUE(writers.AllFinished(120000));
  ExpectAllEntriesWholeAndInOrder(test::ReadFileBytes(writers.MonthFile()), kWriters, kEntries);
}

TEST(MonthlyLogProcessesTest, WriterKilledWhileHoldingTheMutexDoesNotStopTheOthers) {
  const std::wstring readyName = UniqueName(L"KvTest_HoldReady");
  HandleHolder ready;
  ASSERT_FALSE(ready.Attach(::CreateEventW(nullptr, TRUE, FALSE, readyName.c_str())).Failed());
  HandleHolder holder = Launch(std::wstring(L"hold ") + MonthlyLog::MutexName() + L" " + readyName);
  ASSERT_TRUE(holder.IsOpen());
  HANDLE either[2] = {ready.Get(), holder.Get()};
  ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), ::WaitForMultipleObjects(2, either, FALSE, 30000));

  Writers writers(L"log_abandoned");
  for (const HandleHolder& p : writers.processes) ASSERT_TRUE(p.IsOpen());
  writers.Go();
  // While the mutex is held nobody can append.
  EXPECT_FALSE(writers.AllFinished(300));
  ::TerminateProcess(holder.Get(), 9);
  ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), ::WaitForSingleObject(holder.Get(), 30000));

  ASSERT_TRUE(writers.AllFinished(120000));
  ExpectAllEntriesWholeAndInOrder(test::ReadFileBytes(writers.MonthFile()), kWriters, kEntries);
}

TEST(MonthlyLogProcessesTest, ThreadsOfOneProcessAndOtherProcessesTogether) {
  Writers writers(L"log_mixed");
  MonthlyLog log;
  ASSERT_FALSE(log.SetFolder(writers.folder).Failed());
  writers.Go();
  for (unsigned i = 0; i < kEntries; ++i) {
    ASSERT_FALSE(log.Write(L"[Writer" + std::to_wstring(kWriters) + L":" + std::to_wstring(i) + L"]\nData=" +
                           std::wstring(10 + (i * 7 + kWriters) % 60, static_cast<wchar_t>(L'a' + kWriters)) + L"\n")
                     .Failed());
  }
  ASSERT_TRUE(writers.AllFinished(120000));
  ExpectAllEntriesWholeAndInOrder(test::ReadFileBytes(writers.MonthFile()), kWriters + 1, kEntries);
}

}  // namespace
}  // namespace kv
