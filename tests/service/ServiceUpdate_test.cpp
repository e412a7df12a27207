// The whole service in the service control manager, with the reference engine and a
// definition source in a folder: start, update at start, control 200, schedule, stop.
#include <windows.h>

#include <gtest/gtest.h>

#include <ctime>
#include <tuple>
#include <string>

#include "foundation/SecurityDescriptor.h"
#include "kernel/InstanceSuffix.h"
#include "log/MonthlyLog.h"
#include "support/DefinitionSets.h"
#include "support/InstalledService.h"
#include "support/ToolRun.h"
#include "support/WinTestUtil.h"

namespace kv {
namespace {

constexpr char kProxySecret[] = "Px-4711-never-logged";

std::string Builtin(unsigned copyDelayMs) {
  return "[Setting]\r\nScanDll=ScanEngine.dll\r\nTimerElapse=1\r\nLogFolder=log\r\n"
         "[AntiVirus]\r\nDefDatFolder=defs\r\n[ScanEngine]\r\nCopyDelayMs=" +
         std::to_string(copyDelayMs) + "\r\n" + test::TestKeyLine();
}

using test::Narrow;

class ServiceUpdateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = test::FreshFolder(L"service_update");
    source_ = root_ + L"\\source";
    v1_ = {L"1.0", L"2026-12-01", {{L"alpha.def", test::Pattern(4096, 1)}, {L"beta.def", test::Pattern(9000, 2)}}};
    v2_ = {L"2.0", L"2026-12-08", {{L"alpha.def", test::Pattern(5000, 3)}, {L"gamma.def", test::Pattern(777, 4)}}};
    test::PublishSigned(source_, v1_);
  }
  void TearDown() override {
    service_.reset();
    test::RemoveTree(root_);
  }

  // `updateTime` empty: no scheduled updates.
  void Install(unsigned copyDelayMs, const std::string& updateTime = "", const std::string& builtin = "") {
    const std::string settings = "[Kestravondal]\r\nOtherUncPath=" + Narrow(source_) + "\r\nUpdateTime=" + updateTime +
                                 "\r\nProxyUser=admin\r\nProxyPass=" + kProxySecret + "\r\nIsEnableProxyPass=1\r\n";
    service_ = std::make_unique<test::InstalledService>(root_, L"app2", builtin.empty() ? Builtin(copyDelayMs) : builtin,
                                                        settings);
    ASSERT_TRUE(service_->Ready());
  }
  bool StartAndWaitRunning() { return service_->Service().Start() && service_->Service().WaitForState(SERVICE_RUNNING); }
  std::string Defs(const wchar_t* name) const { return test::ReadFileBytes(service_->Folder() + L"\\defs\\" + name); }
  std::wstring VersionPath() const { return service_->Folder() + L"\\ScannerVersion.ini"; }
  std::string VersionFile() const { return test::ReadFileBytes(VersionPath()); }
  std::wstring Suffix() const { return InstanceSuffixFor(service_->Folder() + L"\\Kestravondalsc.exe"); }

  std::wstring root_, source_;
  test::DefinitionSet v1_, v2_;
  std::unique_ptr<test::InstalledService> service_;
};

// The common "current version" layout: the service runs from app, a folder link to
// app3. The clean-up before the first update must see that app3 is its own folder.
TEST_F(ServiceUpdateTest, RunningThroughAFolderLinkKeepsTheInstallation) {
  ASSERT_TRUE(::CreateDirectoryW((root_ + L"\\app1").c_str(), nullptr));
  const std::string settings = "[Kestravondal]\r\nOtherUncPath=" + Narrow(source_) + "\r\n";
  service_ = std::make_unique<test::InstalledService>(root_, L"app3", Builtin(0), settings, L"ScanEngine.dll", L"app");
  if (service_->LinkFailed()) GTEST_SKIP() << "this system makes no folder links";
  ASSERT_TRUE(service_->Ready());
  ASSERT_TRUE(StartAndWaitRunning());
  ASSERT_TRUE(service_->WaitForLog("Result=0x0:Success\r\n", 1)) << service_->Log();
  EXPECT_TRUE(test::WaitForFileText(VersionPath(), "DefinitionVersion=1.0\r\n")) << VersionFile();
  EXPECT_EQ(Defs(L"alpha.def"), v1_.files[0].bytes);
  EXPECT_EQ(test::ReadFileBytes(service_->Folder() + L"\\Kestravondal.ini"), settings);
  EXPECT_EQ(::GetFileAttributesW((root_ + L"\\app1").c_str()), INVALID_FILE_ATTRIBUTES) << "a real old copy goes";
  ASSERT_TRUE(service_->Service().StopAndWait());
}

TEST_F(ServiceUpdateTest, StartInstallsControl200FindsItCurrentAndANewerSetIsInstalled) {
  // An older copy of the program beside this one goes at the first update.
  ASSERT_TRUE(::CreateDirectoryW((root_ + L"\\app1").c_str(), nullptr));
  ASSERT_TRUE(test::WriteFileBytes(root_ + L"\\app1\\old.exe", "old"));
  Install(0);
  ASSERT_TRUE(StartAndWaitRunning());
  EXPECT_EQ(service_->Service().Query().dwControlsAccepted, 0x81u);

  ASSERT_TRUE(service_->WaitForLog("[Update_", 1)) << service_->Log();
  ASSERT_TRUE(service_->WaitForLog("[NextTime_", 1)) << service_->Log();
  EXPECT_EQ(service_->Count("Result=0x0:Success\r\n"), 1) << service_->Log();
  // The settings file holds ProxyPass and Everyone may read it (Wine derives that from
  // its mode): said once, with the mend.
  EXPECT_EQ(service_->Count("\r\nReaders=Everyone\r\nHolds=ProxyPass\r\nMend=icacls \""), 1) << service_->Log();
  // Each mitigation is in effect, read back from the service's process, or named in the
  // log as not (Wine accepts them all and applies none).
  using GetPolicy = BOOL(WINAPI*)(HANDLE, PROCESS_MITIGATION_POLICY, PVOID, SIZE_T);
  const auto get = reinterpret_cast<GetPolicy>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "GetProcessMitigationPolicy")));
  HandleHolder process;
  (void)process.Attach(::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, service_->Service().ProcessId()));
  const std::string log = service_->Log();
  const std::size_t named = log.find("]\r\nNotInEffect=");
  const std::string notInEffect = named == std::string::npos ? "" : log.substr(named, log.find('\n', named + 3) - named);
  for (const auto& [name, which, bits] : {std::tuple{"ImageLoad", ProcessImageLoadPolicy, 0x3u},
                                          {"ExtensionPoints", ProcessExtensionPointDisablePolicy, 0x1u},
                                          {"StrictHandles", ProcessStrictHandleCheckPolicy, 0x3u}}) {
    DWORD flags = 0;
    const bool on = get != nullptr && get(process.Get(), which, &flags, sizeof flags) && (flags & bits) == bits;
    EXPECT_NE(on, notInEffect.find(name) != std::string::npos) << name << " " << notInEffect;
  }
  // Its named objects as the system keeps them, owned by the service's account (under
  // Wine this test's account).
  const std::wstring owner = L"O:" + ProcessUserSid();
  const std::wstring events = L"D:P(A;;0x1F0003;;;SY)(A;;0x1F0003;;;BA)(A;;0x100000;;;AU)";
  const auto sddl = [](HANDLE opened) {
    HandleHolder held;
    (void)held.Attach(opened);
    return test::ObjectSddl(held.Get());
  };
  EXPECT_EQ(sddl(::OpenMutexW(READ_CONTROL, FALSE, MonthlyLog::MutexName())),
            test::CanonicalSddl(owner + L"D:P(A;;0x1F0001;;;SY)(A;;0x1F0001;;;BA)"))
      << "nobody but SYSTEM and Administrators may wait on it, and so hold it";
  for (const wchar_t* event : {L"EventStopEvent_", L"EventInitializeEnd_"}) {
    EXPECT_EQ(sddl(::OpenEventW(READ_CONTROL, FALSE, (event + Suffix()).c_str())), test::CanonicalSddl(owner + events));
  }
  // The start-up record's comment is Japanese; in code page 1252 each character is '?'.
  EXPECT_EQ(service_->Count(";?????\r\nNextTime="), 1) << service_->Log();
  EXPECT_EQ(Defs(L"alpha.def"), v1_.files[0].bytes);
  EXPECT_EQ(Defs(L"beta.def"), v1_.files[1].bytes);
  EXPECT_TRUE(test::WaitForFileText(VersionPath(), "DefinitionVersion=1.0\r\n")) << VersionFile();
  EXPECT_NE(VersionFile().find("DefinitionPath=defs\r\n"), std::string::npos) << VersionFile();
  EXPECT_EQ(::GetFileAttributesW((root_ + L"\\app1").c_str()), INVALID_FILE_ATTRIBUTES);

  ASSERT_TRUE(service_->RequestUpdate(2)) << service_->Log();
  ASSERT_TRUE(service_->WaitForLog("Result=0x32880003:The definition file is up-to-date.,", 1)) << service_->Log();

  test::PublishSigned(source_, v2_);
  ASSERT_TRUE(service_->RequestUpdate(3)) << service_->Log();
  ASSERT_TRUE(service_->WaitForLog("Result=0x0:Success\r\n", 2)) << service_->Log();
  EXPECT_EQ(Defs(L"alpha.def"), v2_.files[0].bytes);
  EXPECT_EQ(Defs(L"gamma.def"), v2_.files[1].bytes);
  EXPECT_EQ(::GetFileAttributesW((service_->Folder() + L"\\defs\\beta.def").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(test::WaitForFileText(VersionPath(), "DefinitionVersion=2.0\r\n")) << VersionFile();

  ASSERT_TRUE(service_->Service().StopAndWait());
  EXPECT_EQ(service_->Service().Query().dwWin32ExitCode, 0u);
  EXPECT_EQ(service_->Count("[Update_"), 3);
  EXPECT_EQ(service_->Log().find(kProxySecret), std::string::npos);
  EXPECT_EQ(VersionFile().find(kProxySecret), std::string::npos);
}

// A user takes the log's mutex and the stop event (signalled) first, as anyone may while
// the service restarts (here this test program): the service records each once, does
// without the mutex, uses an event of its own, and updates.
TEST_F(ServiceUpdateTest, ObjectsTakenByAUserDoNotSilenceTheService) {
  Install(0);
  SecurityDescriptor users;
  ASSERT_FALSE(users.FromSddl(L"O:BUD:(A;;GA;;;WD)").Failed());
  HandleHolder mutex, stop;
  // Held, as a user would hold it to stall every write.
  ASSERT_FALSE(mutex.Attach(::CreateMutexW(users.Attributes(), /*bInitialOwner=*/TRUE, MonthlyLog::MutexName())).Failed());
  const std::wstring stopName = L"EventStopEvent_" + Suffix();
  ASSERT_FALSE(stop.Attach(::CreateEventW(users.Attributes(), TRUE, /*bInitialState=*/TRUE, stopName.c_str())).Failed());
  ASSERT_TRUE(StartAndWaitRunning());
  ASSERT_TRUE(service_->WaitForLog("Result=0x0:Success\r\n", 1)) << service_->Log();
  ASSERT_TRUE(service_->Service().StopAndWait());
  EXPECT_EQ(service_->Count("[ForeignObject_"), 2) << service_->Log();
  for (const std::wstring& name : {std::wstring(MonthlyLog::MutexName()), stopName}) {
    EXPECT_EQ(service_->Count("]\r\nName=" + Narrow(name) + "\r\nOwner=S-1-5-32-545\r\nResult=0x617A002E:AlreadyMaked,"), 1);
  }
  EXPECT_EQ(Defs(L"alpha.def"), v1_.files[0].bytes);
}

TEST_F(ServiceUpdateTest, Control200DuringAnUpdateIsRefusedAndAStopWaitsForTheUpdate) {
  Install(/*copyDelayMs=*/700);
  ASSERT_TRUE(StartAndWaitRunning());
  // The update at start is copying: a request now is refused, the handler still answers.
  ASSERT_TRUE(test::WaitForPath(service_->Folder() + L"\\defs.staging"));
  ASSERT_TRUE(service_->Service().Control(200));
  EXPECT_EQ(service_->Service().Query().dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
  ASSERT_TRUE(service_->WaitForLog("[Update_", 1));

  // A second run, stopped while it copies: the stop waits and the record is written.
  test::PublishSigned(source_, v2_);
  const std::wstring staging = service_->Folder() + L"\\defs.staging";
  ASSERT_TRUE(test::RequestUpdate(service_->Service(),
                                  [&] { return ::GetFileAttributesW(staging.c_str()) != INVALID_FILE_ATTRIBUTES; }));
  ASSERT_TRUE(service_->Service().StopAndWait());
  EXPECT_EQ(service_->Count("[Update_"), 2) << "one record for the start, one for the second request only\n"
                                             << service_->Log();
  EXPECT_EQ(service_->Count("Result=0x0:Success\r\n"), 2) << service_->Log();
  EXPECT_EQ(Defs(L"gamma.def"), v2_.files[1].bytes);
}

TEST_F(ServiceUpdateTest, AStopRightAfterTheStartIsClean) {
  Install(/*copyDelayMs=*/300);
  // The stop follows the running report at once, while start-up is still under way.
  ASSERT_TRUE(StartAndWaitRunning());
  ASSERT_TRUE(service_->Service().StopAndWait());
  EXPECT_EQ(service_->Service().Query().dwWin32ExitCode, 0u);
  // Whatever the start-up reached, the definitions are whole: either none or all of v1.
  const std::string alpha = Defs(L"alpha.def");
  EXPECT_TRUE(alpha.empty() || alpha == v1_.files[0].bytes);
  // And the service starts again.
  ASSERT_TRUE(StartAndWaitRunning());
  ASSERT_TRUE(service_->WaitForLog("Result=0x0:Success\r\n", 1)) << service_->Log();
  ASSERT_TRUE(service_->Service().StopAndWait());
}

TEST_F(ServiceUpdateTest, AScheduledUpdateRunsAtItsTimeAndAdvancesTheTime) {
  // Due at the next minute boundary that is at least 20 s away.
  std::time_t due = std::time(nullptr) + 80;
  std::tm local{};
  localtime_s(&local, &due);
  local.tm_sec = 0;
  char updateTime[8];
  std::snprintf(updateTime, sizeof(updateTime), "%02d:%02d", local.tm_hour, local.tm_min);
  Install(0, updateTime);
  ASSERT_TRUE(StartAndWaitRunning());
  ASSERT_TRUE(service_->WaitForLog("[Update_", 1));
  // The schedule's record comes when the due time is reached, then its update.
  ASSERT_TRUE(service_->WaitForLog(";????\r\nNextTime=", 1, 150000)) << service_->Log();
  ASSERT_TRUE(service_->WaitForLog("[Update_", 2, 60000)) << service_->Log();
  // With the default interval of 24 hours the time stays and the next time is tomorrow.
  std::tm tomorrow = local;
  tomorrow.tm_mday += 1;
  tomorrow.tm_isdst = 0;
  std::mktime(&tomorrow);
  char expected[64];
  std::snprintf(expected, sizeof(expected), ";????\r\nNextTime=%04d%02d%02d_%02d%02d00\r\nUpdateTime=%s\r\n",
                tomorrow.tm_year + 1900, tomorrow.tm_mon + 1, tomorrow.tm_mday, tomorrow.tm_hour, tomorrow.tm_min,
                updateTime);
  EXPECT_EQ(service_->Count(expected), 1) << expected << "\n" << service_->Log();
  ASSERT_TRUE(service_->Service().StopAndWait());
}

// Whoever may write in the program's folder could have put the engine there: none is
// loaded, as SYSTEM, until the folder is closed again, and the log and kvtool say why.
TEST_F(ServiceUpdateTest, NoEngineIsLoadedFromAFolderOthersMayWriteIn) {
  Install(0);
  const std::string folder = Narrow(service_->Folder());
  if (!test::LetEveryone(service_->Folder(), true)) GTEST_SKIP() << "this system keeps no folder access lists";
  ASSERT_TRUE(StartAndWaitRunning());
  ASSERT_TRUE(service_->WaitForLog("\r\nInstead=no engine is loaded", 1)) << service_->Log();
  EXPECT_EQ(service_->Count("]\r\nFolder=" + folder + "\r\nWriters=Everyone\r\n"
                            "Result=0x617A0002:AccessDenied,0x617A0029:InvalidFolder,"),
            1)
      << service_->Log();
  const test::ToolRun status = test::RunKvtool(root_, L"status \"" + service_->Folder() + L"\\Kestravondalsc.exe\"");
  EXPECT_EQ(status.exitCode, 2u);
  EXPECT_NE(Narrow(status.out).find("folder " + folder + " writable by Everyone"), std::string::npos)
      << Narrow(status.out);
  ASSERT_TRUE(service_->Service().StopAndWait());
  EXPECT_EQ(::GetFileAttributesW((service_->Folder() + L"\\defs").c_str()), INVALID_FILE_ATTRIBUTES);

  ASSERT_TRUE(test::LetEveryone(service_->Folder(), true, /*let=*/false));
  ASSERT_TRUE(StartAndWaitRunning());
  ASSERT_TRUE(service_->WaitForLog("Result=0x0:Success\r\n", 1)) << service_->Log();
  EXPECT_EQ(Defs(L"alpha.def"), v1_.files[0].bytes);
  ASSERT_TRUE(service_->Service().StopAndWait());
}

TEST_F(ServiceUpdateTest, WithoutAScanEngineTheServiceOnlyAnswersControls) {
  Install(0, "", "[Setting]\r\nScanDll=NoSuchEngine.dll\r\nLogFolder=log\r\n");
  ASSERT_TRUE(StartAndWaitRunning());
  EXPECT_TRUE(service_->Service().Control(200));
  EXPECT_TRUE(service_->Service().Control(SERVICE_CONTROL_INTERROGATE));
  EXPECT_EQ(service_->Service().Query().dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
  ASSERT_TRUE(service_->Service().StopAndWait());
  EXPECT_EQ(service_->Service().Query().dwWin32ExitCode, 0u);
  EXPECT_EQ(::GetFileAttributesW((service_->Folder() + L"\\log").c_str()), INVALID_FILE_ATTRIBUTES)
      << "nothing is logged without an engine";
}

}  // namespace
}  // namespace kv
