// Measures the service against the floor (FloorService.cpp: a service that only reports its
// states), both installed in the service control manager and started the same way.
//
//   kv_bench_service [runs [idle-seconds [updates]]]        defaults: 7 20 100
//
// Each run starts both programs, reads their memory once start-up is over, lets both
// idle side by side for `idle-seconds` while counting their processor time, asks the
// service for `updates` updates one after the other (each control 200 sent once the
// previous update has written its log record), reads the memory again and stops both.
// The two take turns in going first. Prints medians over the runs in the columns of
// scripts/bench's table. Under Wine, private bytes come from the committed private
// regions (ProcessProbe.h) and idle processor time also from the host kernel's count
// (HostProcessTime.h), the usual counters being empty or too coarse there.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "HostProcessTime.h"
#include "ProcessProbe.h"
#include "ScmService.h"
#include "Table.h"
#include "TraceFile.h"
#include "support/InstalledService.h"
#include "support/ServiceUnderTest.h"
#include "support/WinTestUtil.h"

namespace kv::bench {
namespace {

constexpr int kService = 0;
constexpr int kFloor = 1;
constexpr unsigned kUpdateControl = 200;
constexpr int kFloorControls = 20;  // control-200 round trips to the floor per run
constexpr DWORD kSettleMs = 500;    // after start-up or the last update, before memory is read

const char kBuiltin[] =
    "[Setting]\r\nScanDll=FaultEngine.dll\r\nTimerElapse=1\r\nLogFolder=log\r\n"
    "[AntiVirus]\r\nDefDatFolder=defs\r\n";
// No "UpdateTime": the service polls its timer and never finds an update due.
const char kSettingsFile[] = "[Kestravondal]\r\nTimeIntervalHour=24\r\n";

std::int64_t Counter() {
  LARGE_INTEGER now;
  ::QueryPerformanceCounter(&now);
  return now.QuadPart;
}

double Milliseconds(std::int64_t from, std::int64_t to) {
  LARGE_INTEGER frequency;
  ::QueryPerformanceFrequency(&frequency);
  return static_cast<double>(to - from) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

double Megabytes(std::uint64_t bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

struct Samples {
  std::vector<double> startMs[2], stopMs[2], exitMs[2], controlMs[2];
  std::vector<double> updateStartMs;
  std::vector<double> privateStart[2], workingStart[2], privateAfter[2], workingAfter[2];
  std::vector<double> privateGrowthKb[2], workingGrowthKb[2];
  // The service's growth from its first requested update to its last: a step taken once
  // (buffers kept for the next update) shows in the growth above but not here.
  std::vector<double> privateSlopeKb, workingSlopeKb;
  std::vector<double> cpuPerHour[2], hostCpuPerHour[2];
  double cpuTotalMs[2] = {0, 0};
  double hostTotalMs[2] = {0, 0};
  bool hostCounted = true;
  bool privateWalked = false;
  double cpuSeconds = 0;
  int refused = 0;
};

// One of the two programs under measurement.
struct Subject {
  const char* name;
  std::wstring program;
  ScmService& scm;
  const wchar_t* startArgument;
  ProcessProbe process;
  HostProcessTime host;
};

bool StartTimed(Subject& subject, std::vector<double>& startMs) {
  const std::int64_t t0 = Counter();
  if (!subject.scm.Start(subject.startArgument) || !subject.scm.WaitForState(SERVICE_RUNNING, 60000)) {
    std::fprintf(stderr, "%s did not start (%lu)\n", subject.name, ::GetLastError());
    return false;
  }
  startMs.push_back(Milliseconds(t0, Counter()));
  subject.process = ProcessProbe(subject.scm.Status().dwProcessId);
  if (!subject.process.Opened()) std::fprintf(stderr, "cannot open the process of %s\n", subject.name);
  subject.host = HostProcessTime(subject.program);
  return true;
}

bool StopTimed(Subject& subject, Samples& s, int which) {
  const std::int64_t t0 = Counter();
  if (!subject.scm.Control(SERVICE_CONTROL_STOP) || !subject.scm.WaitForState(SERVICE_STOPPED, 60000)) {
    std::fprintf(stderr, "%s did not stop\n", subject.name);
    return false;
  }
  s.stopMs[which].push_back(Milliseconds(t0, Counter()));
  if (subject.process.WaitForExit(30000)) s.exitMs[which].push_back(Milliseconds(t0, Counter()));
  subject.process = ProcessProbe();
  return true;
}

void ReadMemory(const Subject& subject, std::vector<double>& privateMb, std::vector<double>& workingMb,
                MemoryFigures& figures, Samples& s) {
  figures = subject.process.Memory();
  s.privateWalked = s.privateWalked || figures.privateWalked;
  privateMb.push_back(Megabytes(figures.privateBytes));
  workingMb.push_back(Megabytes(figures.workingSet));
}

std::uint64_t LastWrite(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
}

// One control 200 and the update it starts, timed from the call to the update's first
// engine call; waits until the update has written its log record and then
// "ScannerVersion.ini", its last act. A control that arrives while the previous update
// thread is still winding down starts nothing: it is counted and sent again.
bool OneUpdate(ScmService& scm, const TraceFile& trace, const test::InstalledService& installed, int& updates,
               Samples& s) {
  const std::wstring versionFile = installed.Folder() + L"\\ScannerVersion.ini";
  for (int attempt = 0; attempt < 5; ++attempt) {
    const std::uint64_t versionWritten = LastWrite(versionFile);
    const std::size_t from = trace.Size();
    const std::int64_t t0 = Counter();
    const bool accepted = scm.Control(kUpdateControl);
    const std::int64_t t1 = Counter();
    if (!accepted) {
      ::Sleep(50);
      continue;
    }
    std::optional<std::int64_t> begun;
    const ULONGLONG deadline = ::GetTickCount64() + 1000;
    while (!(begun = trace.FirstAfter(from, "UpdateDefinition")) && ::GetTickCount64() < deadline) ::Sleep(1);
    if (!begun) {
      ++s.refused;
      continue;
    }
    s.controlMs[kService].push_back(Milliseconds(t0, t1));
    s.updateStartMs.push_back(Milliseconds(t0, *begun));
    ++updates;
    if (!installed.WaitForLog("[Update_", updates, 60000)) return false;
    for (int i = 0; i < 2000 && LastWrite(versionFile) == versionWritten; ++i) ::Sleep(1);
    ::Sleep(10);
    return true;
  }
  return false;
}

bool Run(int run, int idleSeconds, int updateCount, Subject (&subjects)[2], const TraceFile& trace,
         const test::InstalledService& installed, Samples& s) {
  Subject& service = subjects[kService];
  Subject& floor = subjects[kFloor];
  const int first = run % 2 ? kService : kFloor;
  int updates = installed.Count("[Update_");

  for (int k = 0; k < 2; ++k) {
    const int which = k == 0 ? first : 1 - first;
    if (!StartTimed(subjects[which], s.startMs[which])) return false;
    if (which == kService) {
      // Start-up runs one update.
      ++updates;
      if (!installed.WaitForLog("[Update_", updates, 60000)) {
        std::fprintf(stderr, "the start-up update wrote no log record\n");
        return false;
      }
    }
  }
  ::Sleep(kSettleMs);
  MemoryFigures started[2];
  for (int which : {kService, kFloor}) {
    ReadMemory(subjects[which], s.privateStart[which], s.workingStart[which], started[which], s);
  }

  // Idle side by side: the same window, the same machine load for both.
  double cpu0[2];
  std::int64_t host0[2];
  for (int which : {kService, kFloor}) {
    cpu0[which] = subjects[which].process.CpuMilliseconds();
    host0[which] = subjects[which].host.Nanoseconds();
  }
  const std::int64_t w0 = Counter();
  ::Sleep(static_cast<DWORD>(idleSeconds) * 1000);
  const double windowSeconds = Milliseconds(w0, Counter()) / 1000.0;
  for (int which : {kService, kFloor}) {
    const double used = subjects[which].process.CpuMilliseconds() - cpu0[which];
    s.cpuPerHour[which].push_back(used * 3600.0 / windowSeconds);
    s.cpuTotalMs[which] += used;
    const std::int64_t host1 = subjects[which].host.Nanoseconds();
    if (host0[which] < 0 || host1 < 0) {
      s.hostCounted = false;
      continue;
    }
    const double hostMs = static_cast<double>(host1 - host0[which]) / 1e6;
    s.hostCpuPerHour[which].push_back(hostMs * 3600.0 / windowSeconds);
    s.hostTotalMs[which] += hostMs;
  }
  s.cpuSeconds += windowSeconds;

  MemoryFigures firstUpdate;
  for (int i = 0; i < updateCount; ++i) {
    if (!OneUpdate(service.scm, trace, installed, updates, s)) {
      std::fprintf(stderr, "update %d of run %d did not complete\n", i + 1, run + 1);
      return false;
    }
    if (i == 0) {
      ::Sleep(kSettleMs);
      firstUpdate = service.process.Memory();
    }
  }
  for (int i = 0; i < kFloorControls; ++i) {
    const std::int64_t t0 = Counter();
    if (floor.scm.Control(kUpdateControl)) s.controlMs[kFloor].push_back(Milliseconds(t0, Counter()));
  }
  ::Sleep(kSettleMs);
  for (int which : {kService, kFloor}) {
    MemoryFigures after;
    ReadMemory(subjects[which], s.privateAfter[which], s.workingAfter[which], after, s);
    s.privateGrowthKb[which].push_back((static_cast<double>(after.privateBytes) -
                                        static_cast<double>(started[which].privateBytes)) / 1024.0);
    s.workingGrowthKb[which].push_back((static_cast<double>(after.workingSet) -
                                        static_cast<double>(started[which].workingSet)) / 1024.0);
    if (which == kService && updateCount > 1) {
      s.privateSlopeKb.push_back(
          (static_cast<double>(after.privateBytes) - static_cast<double>(firstUpdate.privateBytes)) / 1024.0);
      s.workingSlopeKb.push_back(
          (static_cast<double>(after.workingSet) - static_cast<double>(firstUpdate.workingSet)) / 1024.0);
    }
  }

  for (int k = 0; k < 2; ++k) {
    const int which = k == 0 ? first : 1 - first;
    if (!StopTimed(subjects[which], s, which)) return false;
  }
  return true;
}

void PrintPair(const std::string& what, const std::vector<double> (&values)[2], const char* unit, int decimals,
               const std::string& goal, bool ratio = true) {
  const double service = Median(values[kService]);
  const double floor = Median(values[kFloor]);
  Row(what, Number(service, unit, decimals), Number(floor, unit, decimals), ratio ? Ratio(service, floor) : "-",
      goal);
}

std::string SignedKb(double kb) {
  char text[32];
  std::snprintf(text, sizeof(text), "%+.0f KB", kb);
  return text;
}

void Print(const Samples& s, int runs, int idleSeconds, int updateCount) {
  std::printf("-- service vs floor: medians of %d runs (%zu control-200 samples)\n", runs, s.updateStartMs.size());
  PrintPair("start -> running", s.startMs, "ms", 1, "within 1.5x the floor");
  PrintPair("stop -> stopped (idle)", s.stopMs, "ms", 1, "within 1.5x the floor");
  PrintPair("stop -> process ended (idle)", s.exitMs, "ms", 1, "(shown for reference)");
  Row("control 200 -> update's first engine call", Number(Median(s.updateStartMs), "ms", 2), "-", "-",
      "(no floor: the floor runs no update)");
  PrintPair("control 200: ControlService returns", s.controlMs, "ms", 2, "(shown for reference)");
  PrintPair("private bytes after start-up", s.privateStart, "MB", 2, "within 1.3x the floor");
  PrintPair("working set after start-up", s.workingStart, "MB", 2, "within 1.3x the floor");
  const std::string after = " after " + std::to_string(updateCount) + " updates";
  PrintPair("private bytes" + after, s.privateAfter, "MB", 2, "within 1.3x the floor");
  PrintPair("working set" + after, s.workingAfter, "MB", 2, "within 1.3x the floor");
  Row("private bytes growth over the updates", SignedKb(Median(s.privateGrowthKb[kService])),
      SignedKb(Median(s.privateGrowthKb[kFloor])), "-", "flat");
  Row("working set growth over the updates", SignedKb(Median(s.workingGrowthKb[kService])),
      SignedKb(Median(s.workingGrowthKb[kFloor])), "-", "flat");
  if (!s.privateSlopeKb.empty()) {
    const std::string span = "growth, update 1 to " + std::to_string(updateCount) + ": ";
    Row(span + "private bytes", SignedKb(Median(s.privateSlopeKb)), "-", "-", "flat");
    Row(span + "working set", SignedKb(Median(s.workingSlopeKb)), "-", "-", "flat");
  }
  PrintPair("idle CPU, ms per hour of polling (" + std::to_string(idleSeconds) + " s windows)", s.cpuPerHour,
            "ms/h", 0, "a few ms per hour of polling");
  const double pooled[2] = {s.cpuTotalMs[kService] * 3600.0 / s.cpuSeconds,
                            s.cpuTotalMs[kFloor] * 3600.0 / s.cpuSeconds};
  char seconds[32];
  std::snprintf(seconds, sizeof(seconds), "%.0f s", s.cpuSeconds);
  Row(std::string("idle CPU pooled over all windows (") + seconds + ")", Number(pooled[kService], "ms/h", 0),
      Number(pooled[kFloor], "ms/h", 0), Ratio(pooled[kService], pooled[kFloor]), "a few ms per hour of polling");
  if (s.hostCounted && !s.hostCpuPerHour[kService].empty()) {
    PrintPair("idle CPU, host kernel's count (" + std::to_string(idleSeconds) + " s windows)", s.hostCpuPerHour,
              "ms/h", 1, "a few ms per hour of polling");
    const double hostPooled[2] = {s.hostTotalMs[kService] * 3600.0 / s.cpuSeconds,
                                  s.hostTotalMs[kFloor] * 3600.0 / s.cpuSeconds};
    Row("idle CPU, host kernel's count, pooled", Number(hostPooled[kService], "ms/h", 1),
        Number(hostPooled[kFloor], "ms/h", 1), Ratio(hostPooled[kService], hostPooled[kFloor]),
        "a few ms per hour of polling");
    // With a 1 s period, one expiry a second in both: the cost of one, to scale to other
    // periods, against a floor whose callback only reads the clock.
    const double perExpiry[2] = {s.hostTotalMs[kService] * 1000.0 / s.cpuSeconds,
                                 s.hostTotalMs[kFloor] * 1000.0 / s.cpuSeconds};
    Row("idle CPU per timer expiry, host count", Number(perExpiry[kService], "us", 0),
        Number(perExpiry[kFloor], "us", 0), Ratio(perExpiry[kService], perExpiry[kFloor]),
        "within 1.2x the floor (x 3600/TimerElapse = ms/h)");
  } else {
    Row("idle CPU, host kernel's count", "-", "-", "-", "(not under Wine, or the process was not found)");
  }
  if (s.privateWalked) {
    std::printf("   (private bytes: committed private regions by VirtualQueryEx; Wine leaves the counter at 0)\n");
  }
  std::printf("   (the host count sums the run time of the process's threads from /proc; the wineserver's work\n"
              "    on the process's behalf is counted by neither figure)\n");
  std::printf("   (timer period 1 s; a processor-time tick of 10 ms in one %d s window reads as %.0f ms/h;\n"
              "    controls sent while the previous update was still ending, and resent: %d)\n",
              idleSeconds, 10.0 * 3600.0 / idleSeconds, s.refused);
}

}  // namespace
}  // namespace kv::bench

int wmain(int argc, wchar_t** argv) {
  using namespace kv;
  using namespace kv::bench;
  const int runs = argc > 1 ? std::max(1, _wtoi(argv[1])) : 7;
  const int idleSeconds = argc > 2 ? std::max(1, _wtoi(argv[2])) : 20;
  const int updateCount = argc > 3 ? std::max(0, _wtoi(argv[3])) : 100;

  const std::wstring root = test::FreshFolder(L"bench");
  int status = 0;
  {
    test::InstalledService installed(root, L"svc", kBuiltin, kSettingsFile, L"FaultEngine.dll");
    const std::wstring trace = root + L"\\trace.txt";
    test::WriteFileBytes(installed.Folder() + L"\\FaultEngine.ini",
                         "TraceFile=" + std::string(trace.begin(), trace.end()) + "\r\nTraceTimes=1\r\n");
    const std::wstring floorFolder = root + L"\\floor";
    ::CreateDirectoryW(floorFolder.c_str(), nullptr);
    const std::wstring floorProgram = floorFolder + L"\\KvFloorService.exe";
    ::CopyFileW((test::ProgramFolder() + L"\\KvFloorService.exe").c_str(), floorProgram.c_str(), FALSE);
    test::ServiceUnderTest floorInstalled(L"KvFloorService", floorProgram);
    if (!installed.Ready() || !floorInstalled.Installed()) {
      std::fprintf(stderr, "cannot install the service and the floor\n");
      return 1;
    }
    ScmService serviceScm(L"Kestravondalsc");
    ScmService floorScm(L"KvFloorService");
    // The floor polls its timer as often as the service ("TimerElapse=1" above).
    Subject subjects[2] = {{"the service", installed.Folder() + L"\\Kestravondalsc.exe", serviceScm, nullptr, {}, {}},
                           {"the floor", floorProgram, floorScm, L"1", {}, {}}};
    const TraceFile traceFile(trace);
    Samples samples;
    int done = 0;
    for (int run = 0; run < runs; ++run, ++done) {
      std::fprintf(stderr, "run %d of %d\n", run + 1, runs);
      if (!Run(run, idleSeconds, updateCount, subjects, traceFile, installed, samples)) {
        status = 1;
        break;
      }
    }
    if (done > 0) Print(samples, done, idleSeconds, updateCount);
  }
  test::RemoveTree(root);
  return status;
}
