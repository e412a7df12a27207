// Measures what one monthly-log append costs with a small and a large month's file.
//
//   kv_bench_log [appends]
//
// Prints, for a 10 KB and a 10 MB file, the mean time of one MonthlyLog::Write, and
// for comparison the cost of reading the whole file and writing it back per entry.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "log/MonthlyLog.h"

namespace {

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
  LARGE_INTEGER frequency;
  ::QueryPerformanceFrequency(&frequency);
  return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

bool Fill(const std::wstring& path, std::size_t size) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  std::string line = "[Filler]\r\nData=0123456789abcdefghijklmnopqrstuvwxyz\r\n";
  std::string bytes;
  while (bytes.size() < size) bytes += line;
  bytes.resize(size);
  DWORD written = 0;
  const BOOL ok = ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  ::CloseHandle(file);
  return ok && written == bytes.size();
}

// The former way of appending: the whole file read and written back for each entry.
void RewriteAppend(const std::wstring& path, const std::string& entry) {
  std::string bytes;
  HANDLE in = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (in != INVALID_HANDLE_VALUE) {
    LARGE_INTEGER size{};
    ::GetFileSizeEx(in, &size);
    bytes.resize(static_cast<std::size_t>(size.QuadPart));
    DWORD got = 0;
    if (!bytes.empty()) ::ReadFile(in, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
    ::CloseHandle(in);
  }
  bytes += entry;
  HANDLE out = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (out == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  ::WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  ::CloseHandle(out);
}

}  // namespace

int main(int argc, char** argv) {
  const int appends = argc > 1 ? std::atoi(argv[1]) : 200;
  wchar_t temp[MAX_PATH + 1] = {};
  ::GetTempPathW(MAX_PATH, temp);
  const std::wstring folder = std::wstring(temp) + L"kv_bench_log";
  ::CreateDirectoryW(folder.c_str(), nullptr);

  SYSTEMTIME fixed{};
  fixed.wYear = 2024;
  fixed.wMonth = 3;
  fixed.wDay = 15;
  kv::MonthlyLog log([fixed] { return fixed; });
  if (log.SetFolder(folder).Failed()) {
    std::printf("cannot use the folder\n");
    return 1;
  }
  const std::wstring file = log.MonthFile(fixed);
  const std::wstring entry = L"[2024/03/15 12:00:00]\nResult=0x0:Success,\nTotalTime=12\n";

  // The machine is shared: each figure is the median of several rounds, and the two
  // sizes take turns so that a busy moment does not fall on one size only.
  constexpr int kRounds = 7;
  const std::size_t sizes[2] = {std::size_t{10} * 1024, std::size_t{10} * 1024 * 1024};
  const std::string narrow = "[2024/03/15 12:00:00]\r\nResult=0x0:Success,\r\nTotalTime=12\r\n";
  std::vector<double> appendUs[2];
  std::vector<double> rewriteUs[2];
  for (int round = 0; round < kRounds; ++round) {
    for (int s = 0; s < 2; ++s) {
      if (!Fill(file, sizes[s])) return 1;
      LARGE_INTEGER t0, t1;
      ::QueryPerformanceCounter(&t0);
      for (int i = 0; i < appends; ++i) (void)log.Write(entry);  // timed only
      ::QueryPerformanceCounter(&t1);
      appendUs[s].push_back(Seconds(t0, t1) / appends * 1e6);

      if (!Fill(file, sizes[s])) return 1;
      const int rewrites = s == 1 ? 5 : appends;
      ::QueryPerformanceCounter(&t0);
      for (int i = 0; i < rewrites; ++i) RewriteAppend(file, narrow);
      ::QueryPerformanceCounter(&t1);
      rewriteUs[s].push_back(Seconds(t0, t1) / rewrites * 1e6);
    }
  }
  auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  std::printf("appends per round: %d, rounds: %d (medians)\n", appends, kRounds);
  for (int s = 0; s < 2; ++s) {
    std::printf("file %8zu bytes: append %9.1f us/entry   read+rewrite %9.1f us/entry\n", sizes[s],
                median(appendUs[s]), median(rewriteUs[s]));
  }
  ::DeleteFileW(file.c_str());
  ::RemoveDirectoryW(folder.c_str());
  return 0;
}
