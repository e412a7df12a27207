// Fifty starts and stops in a row of the installed service with the reference engine
// and a tiny definition set, each run with its update at start; then one long run with
// many updates on request.
//
// What must hold after every stop of the loop: the service reached STOPPED with exit
// code 0 (no stuck state) and no longer names a process; its process has ended and no
// process of the program is left; its named events are gone with their last handle; and
// the files it writes are held by nobody. Within one process, thirty updates do not grow
// its handle and thread counts.
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "reliability/ReliabilityCommon.h"
#include "kernel/InstanceSuffix.h"
#include "support/DefinitionSets.h"
#include "support/InstalledService.h"
#include "support/WinTestUtil.h"

namespace kv {
namespace {

constexpr int kRuns = 50;
constexpr int kBaselineRun = 5;
// Allowance for what the system itself may hold briefly (a pipe of the service manager,
// a thread of its pool); a leak per run would exceed it many times over.
constexpr DWORD kHandleMargin = 8;
constexpr DWORD kThreadMargin = 2;

struct ProcessCounts {
  DWORD pid = 0;
  DWORD handles = 0;
  DWORD threads = 0;
};

// The handles of process `pid` in the system's handle table; 0 when it cannot be read.
// Used where GetProcessHandleCount is not told the count (Wine answers 0).
DWORD HandlesInSystemTable(DWORD pid) {
  struct Entry {
    ULONG ownerPid;
    BYTE objectType;
    BYTE flags;
    USHORT value;
    PVOID object;
    ULONG access;
  };
  struct Table {
    ULONG count;
    Entry entries[1];
  };
  using QueryFn = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
  const auto query = reinterpret_cast<QueryFn>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  if (query == nullptr) return 0;
  constexpr ULONG kSystemHandleInformation = 16;
  constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);
  std::vector<std::uint8_t> buffer(1 << 20);
  for (int attempt = 0; attempt < 6; ++attempt) {
    ULONG needed = 0;
    const LONG status =
        query(kSystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
    if (status == kInfoLengthMismatch) {
      buffer.resize(std::max<std::size_t>(buffer.size() * 2, needed + 65536));
      continue;
    }
    if (status != 0) return 0;
    const Table* table = reinterpret_cast<const Table*>(buffer.data());
    DWORD count = 0;
    for (ULONG i = 0; i < table->count; ++i) {
      if (table->entries[i].ownerPid == pid) ++count;
    }
    return count;
  }
  return 0;
}

// The service's process and its handle and thread counts, or pid 0.
ProcessCounts CountsOfService(const wchar_t* name) {
  ProcessCounts counts;
  SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (manager == nullptr) return counts;
  SC_HANDLE service = ::OpenServiceW(manager, name, SERVICE_QUERY_STATUS);
  SERVICE_STATUS_PROCESS status{};
  DWORD needed = 0;
  if (service != nullptr && ::QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                                   sizeof(status), &needed)) {
    counts.pid = status.dwProcessId;
  }
  if (service != nullptr) ::CloseServiceHandle(service);
  ::CloseServiceHandle(manager);
  if (counts.pid == 0) return counts;

  HANDLE process = ::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, counts.pid);
  if (process != nullptr) {
    if (!::GetProcessHandleCount(process, &counts.handles)) counts.handles = 0;
    ::CloseHandle(process);
  }
  if (counts.handles == 0) counts.handles = HandlesInSystemTable(counts.pid);
  HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot != INVALID_HANDLE_VALUE) {
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Thread32First(snapshot, &entry); more; more = ::Thread32Next(snapshot, &entry)) {
      if (entry.th32OwnerProcessID == counts.pid) ++counts.threads;
    }
    ::CloseHandle(snapshot);
  }
  return counts;
}

class RestartLoop : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = test::FreshFolder(L"rel_restart");
    source_ = root_ + L"\\share";
    test::PublishSigned(source_, {L"1.0", L"2026-12-01", {{L"tiny.def", test::Pattern(64, 5)}}});
    service_ = std::make_unique<test::InstalledService>(root_, L"app", reltest::ReferenceBuiltin(0),
                                                        "[Kestravondal]\r\nOtherUncPath=" + reltest::Narrow(source_) +
                                                            "\r\n");
    ASSERT_TRUE(service_->Ready());
  }
  void TearDown() override {
    service_.reset();
    test::RemoveTree(root_);
  }
  std::wstring VersionFile() const { return service_->Folder() + L"\\ScannerVersion.ini"; }

  std::wstring root_, source_;
  std::unique_ptr<test::InstalledService> service_;
};

// Processes of the given program file name.
int ProcessesNamed(const wchar_t* exeName) {
  int count = 0;
  HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32FirstW(snapshot, &entry); more; more = ::Process32NextW(snapshot, &entry)) {
    if (_wcsicmp(entry.szExeFile, exeName) == 0) ++count;
  }
  ::CloseHandle(snapshot);
  return count;
}

bool EventExists(const std::wstring& name) {
  HANDLE event = ::OpenEventW(SYNCHRONIZE, FALSE, name.c_str());
  if (event == nullptr) return false;
  ::CloseHandle(event);
  return true;
}

// Nobody holds the file open: it opens without any sharing.
bool HeldByNobody(const std::wstring& path) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, /*dwShareMode=*/0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  ::CloseHandle(file);
  return true;
}

TEST_F(RestartLoop, FiftyStartsAndStopsLeaveNothingBehindAndNeverStick) {
  const std::wstring suffix = InstanceSuffixFor(service_->Folder() + L"\\Kestravondalsc.exe");
  const std::vector<std::wstring> events = {L"EventStopEvent_" + suffix, L"EventInitializeEnd_" + suffix};
  const ULONGLONG began = ::GetTickCount64();
  for (int run = 1; run <= kRuns; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    const bool started = service_->Service().Start();
    ASSERT_TRUE(started) << ::GetLastError();
    ASSERT_TRUE(service_->Service().WaitForState(SERVICE_RUNNING));
    // The same point of every run: its update recorded and its version record written
    // (the update thread's last step).
    ASSERT_TRUE(service_->WaitForLog("[Update_", run)) << service_->Log();
    ASSERT_TRUE(reltest::WaitUntil([&] { return reltest::Exists(VersionFile()); }));
    const ProcessCounts counts = CountsOfService(L"Kestravondalsc");
    ASSERT_NE(counts.pid, 0u);
    HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, counts.pid);
    ASSERT_NE(process, nullptr);
    for (const std::wstring& name : events) ASSERT_TRUE(EventExists(name)) << "while running";

    ASSERT_TRUE(service_->Service().StopAndWait()) << "stuck in state " << service_->Service().Query().dwCurrentState;
    ASSERT_EQ(service_->Service().Query().dwWin32ExitCode, 0u);
    EXPECT_EQ(::WaitForSingleObject(process, 30000), static_cast<DWORD>(WAIT_OBJECT_0)) << "the process lingers";
    ::CloseHandle(process);
    EXPECT_EQ(CountsOfService(L"Kestravondalsc").pid, 0u) << "the service manager still names a process";
    EXPECT_EQ(ProcessesNamed(L"Kestravondalsc.exe"), 0);
    for (const std::wstring& name : events) EXPECT_FALSE(EventExists(name)) << "still open after the stop";
    EXPECT_TRUE(HeldByNobody(VersionFile()));
    EXPECT_TRUE(HeldByNobody(service_->Folder() + L"\\defs\\tiny.def"));
    std::vector<std::wstring> months = test::FolderListing(service_->Folder() + L"\\log");
    ASSERT_EQ(months.size(), 1u);
    EXPECT_TRUE(HeldByNobody(service_->Folder() + L"\\log\\" + months[0]));
    ::DeleteFileW(VersionFile().c_str());
    if (HasFailure()) break;
  }
  std::printf("[ restart ] %d runs in %llu ms\n", kRuns, ::GetTickCount64() - began);
  EXPECT_EQ(service_->Count("[Update_"), kRuns);
  EXPECT_EQ(service_->Count("Result=0x0:Success\r\n"), 1) << "the first run installs, the others find it current";
}

TEST_F(RestartLoop, ManyUpdatesInOneRunLeakNothing) {
  constexpr int kUpdates = 30;
  ASSERT_TRUE(service_->Service().Start());
  ASSERT_TRUE(service_->Service().WaitForState(SERVICE_RUNNING));
  ProcessCounts baseline, last;
  for (int update = 1; update <= kUpdates; ++update) {
    SCOPED_TRACE("update " + std::to_string(update));
    if (update > 1) {
      ::DeleteFileW(VersionFile().c_str());
      ASSERT_TRUE(service_->RequestUpdate(update));
    }
    ASSERT_TRUE(service_->WaitForLog("[Update_", update)) << service_->Log();
    ASSERT_TRUE(reltest::WaitUntil([&] { return reltest::Exists(VersionFile()); }));
    const ProcessCounts counts = CountsOfService(L"Kestravondalsc");
    ASSERT_GT(counts.handles, 0u) << "the handle count cannot be read";
    if (update == kBaselineRun) baseline = counts;
    last = counts;
  }
  std::printf("[ updates ] handles %lu -> %lu, threads %lu -> %lu\n", baseline.handles, last.handles,
              baseline.threads, last.threads);
  EXPECT_LE(last.handles, baseline.handles + kHandleMargin);
  EXPECT_LE(last.threads, baseline.threads + kThreadMargin);
  ASSERT_TRUE(service_->Service().StopAndWait());
  EXPECT_EQ(service_->Service().Query().dwWin32ExitCode, 0u);
}

}  // namespace
}  // namespace kv
