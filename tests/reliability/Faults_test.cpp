// The installed service under faults of its surroundings: the log folder removed, the
// month's file locked, the definition share vanishing mid-update, the engine library
// missing, not a library, or failing every call, a settings file that is empty, garbage
// or huge, and a damaged embedded configuration.
//
// In every case the service keeps running, answers controls, stops cleanly
// (StopAndWait true, exit code 0), loses no log entry it could write, and installed
// definitions stay complete.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "log/MonthlyLog.h"
#include "protect/ResourceFile.h"
#include "reliability/ReliabilityCommon.h"
#include "support/DefinitionSets.h"
#include "support/InstalledService.h"
#include "support/WinTestUtil.h"

namespace kv {
namespace {

using reltest::Exists;
using reltest::Narrow;

class ServiceFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = test::FreshFolder(L"rel_faults");
    trace_ = root_ + L"\\trace.txt";
  }
  void TearDown() override {
    service_.reset();
    test::RemoveTree(root_);
  }

  // The fault engine beside the service, tracing its calls, with `faults` as extra
  // "key=value" lines of its control file.
  void InstallFault(const std::string& faults = "", const std::wstring& programFolder = L"app") {
    service_ = std::make_unique<test::InstalledService>(root_, programFolder, reltest::FaultBuiltin(), "",
                                                        L"FaultEngine.dll");
    ASSERT_TRUE(service_->Ready());
    ASSERT_TRUE(test::WriteFileBytes(service_->Folder() + L"\\FaultEngine.ini",
                                     "TraceFile=" + Narrow(trace_) + "\r\n" + faults));
  }
  void StartRunning() {
    ASSERT_TRUE(service_->Service().Start());
    ASSERT_TRUE(service_->Service().WaitForState(SERVICE_RUNNING));
  }
  // Stops and expects the clean end: stopped, exit code 0.
  void StopCleanly() {
    ASSERT_TRUE(service_->Service().StopAndWait());
    EXPECT_EQ(service_->Service().Query().dwWin32ExitCode, 0u);
  }
  void ExpectRunningAndAnswering() {
    DWORD error = 0;
    EXPECT_TRUE(service_->Service().Control(SERVICE_CONTROL_INTERROGATE, nullptr, &error)) << error;
    EXPECT_EQ(service_->Service().Query().dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
  }
  int Calls(const char* operation) const { return reltest::TraceCalls(trace_, operation); }
  std::wstring VersionFile() const { return service_->Folder() + L"\\ScannerVersion.ini"; }
  // Requests an update and waits for its end: the version record it writes after its
  // log record (the file is removed first).
  void UpdateAndWaitForItsEnd() {
    ::DeleteFileW(VersionFile().c_str());
    ASSERT_FALSE(Exists(VersionFile()));
    const int before = Calls("UpdateDefinition");
    ASSERT_TRUE(reltest::RequestUpdate(service_->Service(), [&] { return Calls("UpdateDefinition") > before; }));
    ASSERT_TRUE(test::WaitForPath(VersionFile())) << "the update did not end";
  }
  std::wstring MonthFile() const {
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileW((service_->Folder() + L"\\log\\Kv_*.txt").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return {};
    ::FindClose(find);
    return service_->Folder() + L"\\log\\" + data.cFileName;
  }

  std::wstring root_, trace_;
  std::unique_ptr<test::InstalledService> service_;
};

// The log folder is deleted while the service runs: the next update's record is skipped
// silently, the service runs on; once the folder is back, records land in it again.
TEST_F(ServiceFaults, LogFolderRemovedWhileRunning) {
  InstallFault();
  StartRunning();
  ASSERT_TRUE(service_->WaitForLog("[Update_", 1)) << service_->Log();
  ASSERT_TRUE(test::WaitForPath(VersionFile()));

  test::RemoveTree(service_->Folder() + L"\\log");
  ASSERT_FALSE(Exists(service_->Folder() + L"\\log"));
  UpdateAndWaitForItsEnd();
  EXPECT_EQ(Calls("UpdateDefinition"), 2);
  ExpectRunningAndAnswering();

  ASSERT_TRUE(::CreateDirectoryW((service_->Folder() + L"\\log").c_str(), nullptr) ||
              ::GetLastError() == ERROR_ALREADY_EXISTS);
  const int before = service_->Count("[Update_");
  UpdateAndWaitForItsEnd();
  EXPECT_EQ(service_->Count("[Update_"), before + 1) << "a record that can be written is written\n"
                                                     << service_->Log();
  ExpectRunningAndAnswering();
  StopCleanly();
}

// The month's file is held open without sharing while an update ends: the file keeps
// its content, that record is skipped, the service runs on and the next record lands.
TEST_F(ServiceFaults, MonthFileHeldWithoutSharingWhileAnUpdateEnds) {
  InstallFault();
  StartRunning();
  ASSERT_TRUE(service_->WaitForLog("[Update_", 1)) << service_->Log();
  ASSERT_TRUE(test::WaitForPath(VersionFile()));
  const std::wstring month = MonthFile();
  ASSERT_FALSE(month.empty());
  const std::string before = test::ReadFileBytes(month);
  ASSERT_FALSE(before.empty());

  reltest::NamedEvent held(L"kv_reliability_held_" + std::to_wstring(::GetCurrentProcessId()));
  reltest::ChildProcess holder;
  ASSERT_TRUE(holder.Start(L"kv_holdfile", L"\"" + month + L"\" 10000 " + held.Name()));
  ASSERT_TRUE(held.WaitSet()) << "exit code " << holder.Wait(0);

  UpdateAndWaitForItsEnd();
  ASSERT_TRUE(holder.Running()) << "the update must end while the file is held";
  EXPECT_EQ(Calls("UpdateDefinition"), 2);
  ExpectRunningAndAnswering();
  ASSERT_EQ(holder.Wait(), 0u);
  EXPECT_EQ(test::ReadFileBytes(month), before) << "the held file keeps exactly its content";

  UpdateAndWaitForItsEnd();
  const std::string after = test::ReadFileBytes(month);
  EXPECT_EQ(after.compare(0, before.size(), before), 0);
  EXPECT_EQ(reltest::CountOf(after, "[Update_"), 2) << after;
  StopCleanly();
}

// The definition share disappears while an update copies from it: the update fails,
// the installed definitions stay the previous complete set, and once the share is back
// the next update installs the new set.
TEST_F(ServiceFaults, DefinitionShareVanishesMidUpdate) {
  const std::wstring source = root_ + L"\\share";
  const test::DefinitionSet v1{
      L"1.0", L"2026-12-01", {{L"a.def", test::Pattern(3000, 11)}, {L"b.def", test::Pattern(5000, 12)}}};
  const test::DefinitionSet v2{L"2.0",
                               L"2026-12-08",
                               {{L"a.def", test::Pattern(3100, 21)},
                                {L"c.def", test::Pattern(4000, 22)},
                                {L"d.def", test::Pattern(2000, 23)},
                                {L"e.def", test::Pattern(1000, 24)}}};
  test::PublishSigned(source, v1);
  service_ = std::make_unique<test::InstalledService>(root_, L"app", reltest::ReferenceBuiltin(/*copyDelayMs=*/600),
                                                      "[Kestravondal]\r\nOtherUncPath=" + Narrow(source) + "\r\n");
  ASSERT_TRUE(service_->Ready());
  const std::wstring defs = service_->Folder() + L"\\defs";
  auto expectInstalled = [&](const test::DefinitionSet& set, const test::DefinitionSet& other) {
    for (const auto& file : set.files) {
      EXPECT_EQ(test::ReadFileBytes(defs + L"\\" + file.name), file.bytes) << Narrow(file.name);
    }
    for (const auto& file : other.files) {
      bool inSet = false;
      for (const auto& mine : set.files) inSet = inSet || mine.name == file.name;
      if (!inSet) {
        EXPECT_FALSE(Exists(defs + L"\\" + file.name)) << Narrow(file.name);
      }
    }
    EXPECT_TRUE(test::WaitForFileText(VersionFile(), "DefinitionVersion=" + Narrow(set.version) + "\r\n"))
        << test::ReadFileBytes(VersionFile());
  };

  StartRunning();
  ASSERT_TRUE(service_->WaitForLog("Result=0x0:Success\r\n", 1)) << service_->Log();
  expectInstalled(v1, v2);

  test::PublishSigned(source, v2);
  ASSERT_TRUE(reltest::RequestUpdate(service_->Service(), [&] { return Exists(defs + L".staging"); }));
  const std::wstring gone = root_ + L"\\share.gone";
  ASSERT_TRUE(reltest::WaitUntil([&] { return ::MoveFileW(source.c_str(), gone.c_str()) != FALSE; }, 10000))
      << "the share could not be taken away: " << ::GetLastError();
  ASSERT_TRUE(service_->WaitForLog("[Update_", 2)) << service_->Log();
  EXPECT_EQ(service_->Count("Result=0x0:Success\r\n"), 1) << "the update without its share fails\n" << service_->Log();
  expectInstalled(v1, v2);
  EXPECT_FALSE(Exists(defs + L".staging"));
  ExpectRunningAndAnswering();

  ASSERT_TRUE(::MoveFileW(gone.c_str(), source.c_str()));
  ASSERT_TRUE(reltest::RequestUpdate(service_->Service(), [&] {
    return Exists(defs + L".staging") || service_->Count("[Update_") >= 3;
  }));
  ASSERT_TRUE(service_->WaitForLog("[Update_", 3)) << service_->Log();
  EXPECT_EQ(service_->Count("Result=0x0:Success\r\n"), 2) << service_->Log();
  expectInstalled(v2, v1);
  StopCleanly();
}

// No engine library beside the service, or a file of that name that is no library: the
// service runs without an engine, answers controls and stops cleanly.
TEST_F(ServiceFaults, EngineLibraryMissingOrNotALibrary) {
  for (const bool present : {false, true}) {
    SCOPED_TRACE(present ? "not a library" : "missing");
    service_.reset();
    service_ = std::make_unique<test::InstalledService>(root_, present ? L"app_bad" : L"app_missing",
                                                        reltest::ReferenceBuiltin(0), "", L"NoSuchEngine.dll");
    ASSERT_TRUE(service_->Ready());
    const std::wstring library = service_->Folder() + L"\\ScanEngine.dll";
    if (present) {
      ASSERT_TRUE(test::WriteFileBytes(library, std::string(4096, 'M') + "this is no library"));
    }
    ASSERT_EQ(Exists(library), present);
    StartRunning();
    ASSERT_TRUE(service_->Service().Control(200));
    ASSERT_TRUE(service_->Service().Control(200));
    ExpectRunningAndAnswering();
    StopCleanly();
    EXPECT_FALSE(Exists(service_->Folder() + L"\\log")) << "nothing is logged without an engine";
    EXPECT_FALSE(Exists(VersionFile()));
  }
}

// An engine whose every call fails (update, re-initialisation, uninitialisation): each
// update is recorded with its failure, the service runs on and stops cleanly.
TEST_F(ServiceFaults, EngineFailingEveryCall) {
  InstallFault("UpdateResult=Fail\r\nInitializeFails=1\r\nUninitializeFails=1\r\nNotInitializedAfterUpdate=1\r\n");
  StartRunning();
  ASSERT_TRUE(service_->WaitForLog("[Update_", 1)) << service_->Log();
  ASSERT_TRUE(reltest::RequestUpdate(service_->Service(), [&] { return Calls("UpdateDefinition") >= 2; }));
  ASSERT_TRUE(service_->WaitForLog("[Update_", 2)) << service_->Log();
  EXPECT_EQ(service_->Count("Result=0x0:Success"), 0) << service_->Log();
  EXPECT_EQ(service_->Count("0x7ED00004"), 2) << "each record carries the engine's failure\n" << service_->Log();
  EXPECT_EQ(Calls("UpdateDefinition"), 2);
  EXPECT_GE(Calls("Initialize"), 2) << "the lost initialisation is retried after each update";
  EXPECT_FALSE(Exists(VersionFile())) << "a failed update keeps no version record";
  ExpectRunningAndAnswering();
  StopCleanly();
  EXPECT_GE(Calls("Uninitialize"), 1);
}

// A settings file that is empty, binary garbage, or 5 MB: the service starts, runs its
// update, and stops cleanly.
TEST_F(ServiceFaults, SettingsFileEmptyGarbageOrHuge) {
  std::mt19937 random(7);
  std::string garbage(64 * 1024, '\0');
  for (char& c : garbage) c = static_cast<char>(random() & 0xFF);
  std::string huge = "\xEF\xBB\xBF[Kestravondal]\r\nUpdateTime=03:00\r\n";
  for (int i = 0; huge.size() < 3 * 1024 * 1024; ++i) {
    huge += (i % 500 == 0 ? "[Section" + std::to_string(i) + "]\r\n" : "") + "Key" + std::to_string(i) + "=" +
            std::string(40 + i % 50, static_cast<char>('a' + i % 26)) + "\r\n";
  }
  huge += "Long=" + std::string(5 * 1024 * 1024 - huge.size() - 7, 'x') + "\r\n";
  ASSERT_EQ(huge.size(), 5u * 1024 * 1024);
  const struct {
    const wchar_t* label;
    const std::string* bytes;
  } rows[] = {{L"empty", nullptr}, {L"garbage", &garbage}, {L"huge", &huge}};
  for (const auto& row : rows) {
    SCOPED_TRACE(Narrow(row.label));
    service_.reset();
    ::DeleteFileW(trace_.c_str());
    InstallFault("", std::wstring(L"app_") + row.label);
    ASSERT_TRUE(test::WriteFileBytes(service_->Folder() + L"\\Kestravondal.ini", row.bytes ? *row.bytes : ""));
    StartRunning();
    ASSERT_TRUE(service_->WaitForLog("[Update_", 1)) << service_->Log();
    EXPECT_EQ(service_->Count("Result=0x0:Success\r\n"), 1) << service_->Log();
    EXPECT_EQ(Calls("UpdateDefinition"), 1);
    ExpectRunningAndAnswering();
    StopCleanly();
  }
}

// One byte of the sealed embedded configuration is flipped in the installed copy: the
// service cannot trust its settings, so it runs without an engine (the engine beside it
// is never even loaded), answers controls and stops cleanly.
TEST_F(ServiceFaults, DamagedEmbeddedConfigurationRunsWithoutEngine) {
  InstallFault();
  const std::wstring program = service_->Folder() + L"\\Kestravondalsc.exe";
  std::vector<std::uint8_t> resource;
  {
    ResourceFile file;
    ASSERT_FALSE(file.Open(program).Failed());
    ASSERT_FALSE(file.Read(ResourceName(4096), LANG_NEUTRAL, resource).Failed());
  }
  ASSERT_GT(resource.size(), 64u);
  std::string image = test::ReadFileBytes(program);
  const std::string needle(resource.begin(), resource.end());
  const std::size_t at = image.find(needle);
  ASSERT_NE(at, std::string::npos);
  ASSERT_EQ(image.find(needle, at + 1), std::string::npos);
  image[at + resource.size() / 2] ^= 0x01;
  ASSERT_TRUE(test::WriteFileBytes(program, image));

  StartRunning();
  ASSERT_TRUE(service_->Service().Control(200));
  ExpectRunningAndAnswering();
  StopCleanly();
  EXPECT_EQ(Calls("CreateObject"), 0) << "no engine from a configuration that failed its check";
  EXPECT_FALSE(Exists(service_->Folder() + L"\\log"));
}

// Another program holds the log's named mutex and hangs (kv_logwriter "hold") while the
// service starts, so the start-up's next-time record and the update's record both wait
// for the mutex. What must hold: those waits are bounded, so the stop ends the service
// while the other program still hangs, and once that program is gone nothing is stuck.
TEST_F(ServiceFaults, LogMutexHeldByAHungProgramDoesNotBlockTheStop) {
  InstallFault();
  reltest::NamedEvent ready(L"kv_reliability_mutex_ready_" + std::to_wstring(::GetCurrentProcessId()));
  auto holder = std::make_unique<reltest::ChildProcess>();
  ASSERT_TRUE(holder->Start(L"kv_logwriter", std::wstring(L"hold ") + MonthlyLog::MutexName() + L" " + ready.Name()));
  ASSERT_TRUE(ready.WaitSet());
  StartRunning();
  ASSERT_TRUE(reltest::WaitUntil([&] { return Calls("UpdateDefinition") == 1; }));
  const bool stopped = service_->Service().StopAndWait(/*timeoutMs=*/100000);
  const DWORD state = service_->Service().Query().dwCurrentState;
  holder.reset();  // the hung program ends: its mutex is abandoned
  ASSERT_TRUE(service_->Service().StopAndWait());
  EXPECT_TRUE(stopped) << "still in state " << state << " while the other program held the log";
}

}  // namespace
}  // namespace kv
