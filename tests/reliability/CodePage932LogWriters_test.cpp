// In code page 932 (Japanese), several writers append to the same month's log at once:
// threads of this process, each with a log of its own as a separate program would have,
// writing Japanese entries (two bytes a character), and two writer processes
// (kv_logwriter).
//
// What must survive: every entry exactly once with exactly its bytes, and nothing else in
// the file: no double-byte character split, no entry torn or interleaved.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "log/MonthlyLog.h"
#include "reliability/LogParser.h"
#include "reliability/ReliabilityCommon.h"
#include "support/WinTestUtil.h"

namespace kv {
namespace {

constexpr unsigned kThreads = 4;
constexpr unsigned kProcesses = 2;
constexpr unsigned kEntries = 150;

// Entry `index` of thread `id`: a Japanese header and a line of kana whose length varies.
std::wstring JapaneseEntry(unsigned id, unsigned index) {
  const std::wstring kana(8 + (index * 5 + id) % 40, static_cast<wchar_t>(L'\u30a2' + id * 2));
  return L"[\u66f8\u8fbc" + std::to_wstring(id) + L":" + std::to_wstring(index) + L"]\n\u30c7\u30fc\u30bf=" + kana +
         L"\n";
}

std::string InCodePage932(const std::wstring& text) {
  const int size = ::WideCharToMultiByte(932, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                         nullptr);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(932, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
  return bytes;
}

std::string AllMonthFiles(const std::wstring& folder) { return test::MonthFilesContent(folder); }

TEST(CodePage932LogWriters, JapaneseEntriesFromThreadsAndProcessesStayWhole) {
  ASSERT_EQ(::GetACP(), 932u) << "this case runs with Wine in code page 932";
  const std::wstring folder = test::FreshFolder(L"rel_cp932_writers");

  reltest::NamedEvent go(L"kv_reliability_cp932_go_" + std::to_wstring(::GetCurrentProcessId()));
  ASSERT_NE(go.Get(), nullptr);
  std::vector<std::unique_ptr<reltest::ChildProcess>> processes;
  for (unsigned p = 0; p < kProcesses; ++p) {
    processes.push_back(std::make_unique<reltest::ChildProcess>());
    ASSERT_TRUE(processes.back()->Start(L"kv_logwriter", L"write \"" + folder + L"\" " + std::to_wstring(10 + p) +
                                                             L" " + std::to_wstring(kEntries) + L" " + go.Name()));
  }
  std::vector<std::thread> threads;
  std::vector<int> failures(kThreads, 0);
  for (unsigned id = 0; id < kThreads; ++id) {
    threads.emplace_back([&, id] {
      MonthlyLog log;
      if (log.SetFolder(folder).Failed()) {
        failures[id] = -1;
        return;
      }
      ::WaitForSingleObject(go.Get(), 60000);
      for (unsigned index = 0; index < kEntries; ++index) {
        if (log.Write(JapaneseEntry(id, index)).Failed()) ++failures[id];
      }
    });
  }
  ::SetEvent(go.Get());
  for (auto& thread : threads) thread.join();
  for (const auto& process : processes) EXPECT_EQ(process->Wait(), 0u);
  for (unsigned id = 0; id < kThreads; ++id) EXPECT_EQ(failures[id], 0) << "thread " << id;

  const std::string log = AllMonthFiles(folder);
  std::size_t expectedSize = 0;
  for (unsigned id = 0; id < kThreads; ++id) {
    for (unsigned index = 0; index < kEntries; ++index) {
      const std::string entry = InCodePage932(NormalizeLineBreaks(JapaneseEntry(id, index)));
      expectedSize += entry.size();
      EXPECT_EQ(reltest::CountOf(log, entry), 1) << "thread " << id << " entry " << index;
    }
  }
  for (unsigned p = 0; p < kProcesses; ++p) {
    for (unsigned index = 0; index < kEntries; ++index) {
      const std::string entry = reltest::WriterEntry(10 + p, index);
      expectedSize += entry.size();
      EXPECT_EQ(reltest::CountOf(log, entry), 1) << "process " << p << " entry " << index;
    }
  }
  EXPECT_EQ(log.size(), expectedSize) << "nothing but the entries, each once";
  test::RemoveTree(folder);
}

}  // namespace
}  // namespace kv
