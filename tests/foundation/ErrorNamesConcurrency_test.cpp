// The name map under concurrent use: texts asked for by several threads while another
// thread merges a library table, at first use (in a fresh process) and later.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "foundation/ErrorCodes.h"
#include "foundation/ErrorNames.h"

namespace kv {
namespace {

struct Expected {
  ErrorCode code;
  const wchar_t* text;  // CodeText in column 0
};

const Expected kStable[] = {
    {0x385A0002, L"InvalidNextTime"},
    {0x32880003, L"The definition file is up-to-date."},
    {0x32880002, L"BreakInterrupt"},
    {0x63610005, L"CM_CR_INVALID_DEVINST"},
    {0x6D5E0194, L"HTTP_STATUS_404_NOT_FOUND"},
    {0x617A0014, L"InvalidEnumValue"},
    {0x617A0008, L"InvalidArgument"},
};

std::wstring LibraryName(ErrorCode code) { return L"LibraryName" + std::to_wstring(code & 0xFFFF); }

// Readers check stable texts and that each library code reads either as unknown or by
// its library name, never going back once named; one thread merges meanwhile (a table
// of new codes one row at a time, so that the map keeps changing while they read, then
// one with a conflict). Returns the number of failures seen. Without the map's guard
// this fails in most runs; with it, it must never fail.
int RaceReadersAgainstMerge(ErrorCode libraryFirst, int readers, int rounds) {
  constexpr int kLibraryRows = 2048;
  std::vector<std::wstring> names;
  std::vector<ErrorNameRow> table;
  for (int i = 0; i < kLibraryRows; ++i) names.push_back(LibraryName(libraryFirst + i));
  for (int i = 0; i < kLibraryRows; ++i) table.push_back({libraryFirst + i, names[i].c_str()});
  table.push_back({0x617A0008, L"InvalidArgument"});  // agrees
  const std::vector<ErrorNameRow> conflict = {{0x617A0008, L"NotInvalidArgument"}};

  std::atomic<int> failures{0};
  // Every thread waits at this gate, so that they start together once all exist.
  const HANDLE start = ::CreateEventW(nullptr, /*bManualReset=*/TRUE, /*bInitialState=*/FALSE, nullptr);
  std::vector<std::thread> threads;
  for (int r = 0; r < readers; ++r) {
    threads.emplace_back([&, r] {
      std::vector<bool> named(kLibraryRows, false);
      ::WaitForSingleObject(start, INFINITE);
      for (int round = 0; round < rounds; ++round) {
        for (const auto& e : kStable) {
          if (CodeText(e.code, 0) != e.text) ++failures;
        }
        for (int i = (round + r) % 64; i < kLibraryRows; i += 64) {
          const std::wstring text = CodeText(libraryFirst + i, 0);
          if (text == names[i]) {
            named[i] = true;
          } else if (named[i] || text != L"InvalidEnumValue") {
            ++failures;
          }
        }
      }
    });
  }
  ResultChain refused;
  threads.emplace_back([&] {
    ::WaitForSingleObject(start, INFINITE);
    // One row at a time, so that the map changes many times while the readers run.
    for (std::size_t i = 0; i < table.size(); ++i) {
      if (MergeNames(&table[i], 1).Failed()) ++failures;
    }
    refused = MergeNames(conflict.data(), conflict.size());
  });
  ::SetEvent(start);
  for (auto& t : threads) t.join();
  ::CloseHandle(start);

  if (!(refused == ResultChain(err::InvalidKeyTable) + 0x617A0008)) ++failures;
  for (int i = 0; i < kLibraryRows; ++i) {
    if (CodeName(libraryFirst + i) != names[i]) ++failures;
  }
  for (const auto& e : kStable) {
    if (CodeText(e.code, 0) != e.text) ++failures;
  }
  return failures.load();
}

// A child process of its own, so that the map is filled while the threads race.
TEST(ErrorNamesConcurrency, FirstUseWhileMerging) {
  EXPECT_EXIT(
      {
        const int failures = RaceReadersAgainstMerge(0x7EBF6000, 8, 200);
        std::fprintf(stderr, "failures=%d\n", failures);
        std::fflush(stderr);
        std::_Exit(failures == 0 ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "failures=0");
}

TEST(ErrorNamesConcurrency, ReadersWhileMergingLater) {
  EXPECT_EQ(CodeName(0x385A0002), L"InvalidNextTime");  // the map is in use already
  EXPECT_EQ(RaceReadersAgainstMerge(0x7EBF7000, 6, 300), 0);
}

}  // namespace
}  // namespace kv
