// What "kvtool status" costs with a large month's log, against reading that file whole.
//
//   kv_bench_status [runs]        default 15
//
// Lays out a program folder (a copy of the service, "ScannerVersion.ini", a month's log
// of service-like records) and times the command itself (kvtool's own code, compiled in,
// its output sent to NUL) on a 10 KB and a 10 MB log, and on a 10 MB log of failures
// only, first with the version file (which tells the last success) and then without it,
// where the whole log is read back in search of a success. The comparison is one read of
// the whole 10 MB file. Prints rows of scripts/bench's table.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "Commands.h"
#include "Table.h"
#include "support/WinTestUtil.h"

namespace {

using kv::bench::Median;
using kv::bench::Number;
using kv::bench::Ratio;
using kv::bench::Row;

double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to) {
  LARGE_INTEGER frequency;
  ::QueryPerformanceFrequency(&frequency);
  return static_cast<double>(to.QuadPart - from.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

std::string Stamp(std::time_t at) {
  char text[32];
  const std::tm local = *std::localtime(&at);
  std::strftime(text, sizeof text, "%Y%m%d_%H%M%S", &local);
  return text;
}

// About `size` bytes of records as the service writes them, a minute apart, ending now. With
// `failures`, every update failed.
std::string MonthLog(std::size_t size, bool failures) {
  const std::time_t now = std::time(nullptr);
  std::vector<std::string> days;
  std::size_t total = 0;
  for (int day = 0; total < size; ++day) {
    const std::time_t at = now - static_cast<std::time_t>(day) * 60;
    std::string record = "[NextTime_" + Stamp(at) + "]\r\n;next\r\nNextTime=" + Stamp(at + 86400) +
                         "\r\nUpdateTime=03:00\r\n\r\n[Update_" + Stamp(at) +
                         "]\r\nDefinitionDate=2026-12-08\r\nDefinitionFiles=3\r\nDefinitionVersion=2026.12.08\r\n"
                         "EngineVersion=1.0.0\r\n" +
                         (failures ? "Result=0x7EBF005A:UncFileNotFound,0x2:File not found.,Line(22),Line(96),\r\n"
                                   : "Result=0x32880003:The definition file is up-to-date.,\r\n") +
                         "Source=\\\\files01\\kvdefs\\current\r\nTotalTime=0\r\n\r\n";
    total += record.size();
    days.push_back(std::move(record));
  }
  std::string log;
  for (auto it = days.rbegin(); it != days.rend(); ++it) log += *it;
  return log;
}

double ReadWhole(const std::wstring& path) {
  LARGE_INTEGER t0, t1;
  ::QueryPerformanceCounter(&t0);
  const std::string bytes = kv::test::ReadFileBytes(path);
  ::QueryPerformanceCounter(&t1);
  return bytes.empty() ? -1 : Milliseconds(t0, t1);
}

double Status(const std::wstring& program) {
  LARGE_INTEGER t0, t1;
  ::QueryPerformanceCounter(&t0);
  kv::tool::RunStatus({program});
  ::QueryPerformanceCounter(&t1);
  return Milliseconds(t0, t1);
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
  const std::wstring folder = kv::test::FreshFolder(L"kv_bench_status");
  const std::wstring program = folder + L"\\Kestravondalsc.exe";
  if (!::CopyFileW((kv::test::ProgramFolder() + L"\\Kestravondalsc.exe").c_str(), program.c_str(), FALSE) ||
      !::CreateDirectoryW((folder + L"\\log").c_str(), nullptr) ||
      !kv::test::WriteFileBytes(folder + L"\\ScannerVersion.ini",
                                "[ScannerVersion]\r\nDefinitionDate=2026-12-08\r\nDefinitionVersion=2026.12.08\r\n")) {
    std::printf("cannot lay out %ls\n", folder.c_str());
    return 1;
  }
  char month[16];
  const std::time_t now = std::time(nullptr);
  std::strftime(month, sizeof month, "%Y_%m", std::localtime(&now));
  const std::wstring log = folder + L"\\log\\Kv_" + std::wstring(month, month + 7) + L".txt";

  // The command's output goes nowhere while it is timed.
  const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  const HANDLE nul = ::CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  struct Case {
    std::size_t size;
    bool failures;
    bool versionFile;
    std::vector<double> statusMs;
    std::vector<double> wholeMs;
  } cases[] = {{10 * 1024, false, true, {}, {}},
               {10 * 1024 * 1024, false, true, {}, {}},
               {10 * 1024 * 1024, true, true, {}, {}},
               {10 * 1024 * 1024, true, false, {}, {}}};
  for (Case& c : cases) {
    if (!kv::test::WriteFileBytes(log, MonthLog(c.size, c.failures))) return 1;
    if (!c.versionFile) ::DeleteFileW((folder + L"\\ScannerVersion.ini").c_str());
    ::SetStdHandle(STD_OUTPUT_HANDLE, nul);
    Status(program);  // the first run loads what later runs find loaded
    for (int i = 0; i < runs; ++i) {
      c.statusMs.push_back(Status(program));
      c.wholeMs.push_back(ReadWhole(log));
    }
    ::SetStdHandle(STD_OUTPUT_HANDLE, out);
  }
  ::CloseHandle(nul);
  kv::test::RemoveTree(folder);

  const double whole = Median(cases[1].wholeMs);
  Row("status, 10 KB month's log", Number(Median(cases[0].statusMs), "ms", 2), Number(whole, "ms", 2),
      Ratio(Median(cases[0].statusMs), whole), "-");
  Row("status, 10 MB month's log", Number(Median(cases[1].statusMs), "ms", 2), Number(whole, "ms", 2),
      Ratio(Median(cases[1].statusMs), whole), "<= 100 ms; below 1x");
  Row("status, 10 MB of failures", Number(Median(cases[2].statusMs), "ms", 2), Number(whole, "ms", 2),
      Ratio(Median(cases[2].statusMs), whole), "<= 100 ms");
  Row("(the same without a version file: reads all)", Number(Median(cases[3].statusMs), "ms", 2),
      Number(whole, "ms", 2), Ratio(Median(cases[3].statusMs), whole), "for comparison");
  return 0;
}
