// The Windows Installer package on a machine that has never seen the product (the prefix
// msi-fixture makes for every run): settings refused, a silent installation with
// settings, an upgrade to the next version over an edited settings file, an upgrade that
// fails and leaves the old version, the removal.
#include <windows.h>
// After windows.h, which it needs.
#include <msi.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "defset/SetSignature.h"
#include "foundation/GroupAccess.h"
#include "foundation/PathName.h"
#include "foundation/TextEncoding.h"
#include "kernel/ScmHandle.h"
#include "support/DefinitionSets.h"
#include "support/ServiceUnderTest.h"
#include "support/ToolRun.h"
#include "support/WinTestUtil.h"

namespace kv {
namespace {

constexpr wchar_t kUpgradeCode[] = L"{5E0C3B1A-7F41-4D2C-9A6E-2B8D1C4F7A10}";

std::wstring PackageFolder() { return test::ProgramFolder() + L"\\..\\msi-test"; }

// The key the fixture sealed into the packages' service, as kvtool keygen wrote it.
test::SigningKey PackageKey() {
  test::SigningKey key;
  const std::string text = test::ReadFileBytes(PackageFolder() + L"\\signing.key");
  const auto value = [&](const std::string& name) {
    const std::size_t at = text.find("\n" + name + "=");
    if (at == std::string::npos) return std::string();
    const std::size_t begin = at + name.size() + 2;
    return text.substr(begin, text.find_first_of("\r\n", begin) - begin);
  };
  EXPECT_FALSE(refengine::FromBase64(value("PrivateKey"), key.privateBlob).Failed()) << text;
  const std::string publicText = value("PublicKey");
  key.publicKey.assign(publicText.begin(), publicText.end());
  return key;
}
std::wstring Package(const std::wstring& version, const std::wstring& variant = L"") {
  return L"\"" + PackageFolder() + L"\\Kestravondalsc-" + version + L"-x64" + variant + L".msi\"";
}

// An installation log, in whichever of the two forms msiexec wrote it, as narrow text.
std::string MsiLog(const std::wstring& logName) {
  std::string bytes = test::ReadFileBytes(PackageFolder() + L"\\" + logName);
  std::erase(bytes, '\0');
  return bytes;
}

using test::Narrow;

// msiexec, quiet, with a verbose log in the package folder; its exit code.
DWORD Msiexec(const std::wstring& arguments, const std::wstring& logName) {
  const DWORD code = test::RunProgram(
      L"msiexec " + arguments + L" /qn /l*v \"" + PackageFolder() + L"\\" + logName + L"\"", 120000);
  if (code == STILL_ACTIVE) {
    const std::string log = MsiLog(logName);
    ADD_FAILURE() << "msiexec " << Narrow(arguments) << " still runs; its log ends:\n"
                  << log.substr(log.size() > 6000 ? log.size() - 6000 : 0);
  }
  return code;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

int Count(const std::string& text, const std::string& part) {
  int count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
  return count;
}

bool Eventually(const std::function<bool()>& condition) {
  for (const ULONGLONG deadline = ::GetTickCount64() + 120000; !condition(); ::Sleep(100)) {
    if (::GetTickCount64() > deadline) return false;
  }
  return true;
}

// The service as the service control manager has it.
struct ServiceFacts {
  DWORD openError = 0;
  SERVICE_STATUS_PROCESS status{};
  DWORD type = 0, startType = 0;
  std::wstring account, description;
  SERVICE_FAILURE_ACTIONSW failure{};
  BOOL delayed = FALSE;  // delayed automatic start
};

ServiceFacts QueryService() {
  ServiceFacts facts;
  const ScmHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  const ScmHandle service(
      ::OpenServiceW(manager.Get(), L"Kestravondalsc", SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG));
  if (!service.IsOpen()) {
    facts.openError = ::GetLastError();
    return facts;
  }
  DWORD needed = 0;
  ::QueryServiceStatusEx(service.Get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&facts.status),
                         sizeof facts.status, &needed);
  static std::vector<BYTE> buffer(8192), failure(8192);  // failure actions point into theirs
  const auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
  if (::QueryServiceConfigW(service.Get(), reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data()), 8192, &needed)) {
    facts.type = config->dwServiceType;
    facts.startType = config->dwStartType;
    facts.account = config->lpServiceStartName ? config->lpServiceStartName : L"";
  }
  if (::QueryServiceConfig2W(service.Get(), SERVICE_CONFIG_DESCRIPTION, buffer.data(), 8192, &needed)) {
    const wchar_t* description = reinterpret_cast<SERVICE_DESCRIPTIONW*>(buffer.data())->lpDescription;
    facts.description = description ? description : L"";
  }
  if (::QueryServiceConfig2W(service.Get(), SERVICE_CONFIG_FAILURE_ACTIONS, failure.data(), 8192, &needed)) {
    facts.failure = *reinterpret_cast<SERVICE_FAILURE_ACTIONSW*>(failure.data());
  }
  SERVICE_DELAYED_AUTO_START_INFO delayed{};
  if (::QueryServiceConfig2W(service.Get(), SERVICE_CONFIG_DELAYED_AUTO_START_INFO, reinterpret_cast<BYTE*>(&delayed),
                             sizeof delayed, &needed)) {
    facts.delayed = delayed.fDelayedAutostart;
  }
  return facts;
}

bool ServiceRuns() { return QueryService().status.dwCurrentState == SERVICE_RUNNING; }

// Product code and version of every installed product of the package's upgrade code.
// A value of the service's event source, as text (a number in decimal); empty when the
// source or the value is missing.
std::wstring EventSourceValue(const wchar_t* name) {
  wchar_t text[512] = {};
  DWORD size = sizeof(text);
  DWORD type = 0;
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Kestravondalsc",
                     name, RRF_RT_ANY | RRF_NOEXPAND, &type, text, &size) != ERROR_SUCCESS) {
    return {};
  }
  if (type == REG_DWORD) {
    DWORD number = 0;
    std::memcpy(&number, text, sizeof(number));
    return std::to_wstring(number);
  }
  std::wstring value(text);
  // "[APPDIR]" as the installer wrote it; expanded as the event log reads it.
  wchar_t expanded[512] = {};
  return type == REG_EXPAND_SZ && ::ExpandEnvironmentStringsW(value.c_str(), expanded, 512) != 0 ? expanded : value;
}

std::vector<std::pair<std::wstring, std::wstring>> InstalledProducts() {
  std::vector<std::pair<std::wstring, std::wstring>> products;
  wchar_t product[39] = {};
  for (DWORD i = 0; ::MsiEnumRelatedProductsW(kUpgradeCode, 0, i, product) == ERROR_SUCCESS; ++i) {
    wchar_t version[64] = {};
    DWORD size = 64;
    ::MsiGetProductInfoW(product, INSTALLPROPERTY_VERSIONSTRING, version, &size);
    products.emplace_back(product, version);
  }
  return products;
}

std::vector<std::wstring> InstalledVersions() {
  std::vector<std::wstring> versions;
  for (const auto& product : InstalledProducts()) versions.push_back(product.second);
  return versions;
}

class PackageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(QueryService().openError, static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST)) << "a new machine";
    const std::string today = test::LocalDate();
    test::PublishSigned(source_, {L"2026.12.08", std::wstring(today.begin(), today.end()), {{L"virus.def", "defs"}}},
                        PackageKey());
  }
  // Whatever a test left goes, so that the next one starts on a machine without the product.
  void TearDown() override {
    for (const auto& product : InstalledProducts()) Msiexec(L"/x " + product.first, L"cleanup.log");
    test::RemoveTree(product_);
    test::RemoveTree(source_);
  }

  std::string Log() const { return test::MonthFilesContent(app_ + L"\\log"); }
  bool WaitForLog(const std::string& text, int times) const {
    return Eventually([&] { return Count(Log(), text) >= times; });
  }
  // The installed kvtool's "status".
  std::string Status(const std::wstring& arguments = {}) const {
    return Narrow(test::RunKvtool(PackageFolder(), L"status " + arguments, app_ + L"\\kvtool.exe").out);
  }

  const std::wstring product_ = EnvironmentValue(L"ProgramW6432") + L"\\Kestravondalsc";
  const std::wstring app_ = product_ + L"\\app";
  const std::wstring settingsFile_ = app_ + L"\\Kestravondal.ini";
  const std::wstring source_ = test::FreshFolder(L"kv_package_source");
};

TEST_F(PackageTest, RefusesSettingsTheServiceCannotUse) {
  for (const wchar_t* property : {L"UPDATETIME=25:00", L"UPDATETIME=3", L"TIMEINTERVALHOUR=012", L"UPDATEWINDOW=30",
                                  L"UPDATETIME=03:00 UPDATEWINDOW=1441", L"UPDATETIME=03:00 UPDATEWINDOW=060"}) {
    SCOPED_TRACE(Narrow(property));
    EXPECT_EQ(Msiexec(L"/i " + Package(KV_TEST_VERSION) + L" " + property, L"refused.log"),
              static_cast<DWORD>(ERROR_INSTALL_FAILURE));
    EXPECT_EQ(QueryService().openError, static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    EXPECT_EQ(::GetFileAttributesW(app_.c_str()), INVALID_FILE_ATTRIBUTES) << "nothing installed";
    EXPECT_TRUE(InstalledProducts().empty());
  }
}

TEST_F(PackageTest, InstallUpgradeAndRemove) {
  ASSERT_EQ(Msiexec(L"/i " + Package(KV_TEST_VERSION) +
                        L" UPDATETIME=03:00 UPDATEWINDOW=60 TIMEINTERVALHOUR=12 OTHERUNCPATH=\"" +
                        source_ + L"\"",
                    L"install.log"),
            0u);
  ASSERT_TRUE(Eventually(ServiceRuns));
  const ServiceFacts installed = QueryService();
  EXPECT_EQ(installed.type, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
  EXPECT_EQ(installed.startType, static_cast<DWORD>(SERVICE_AUTO_START));
  EXPECT_TRUE(installed.account.empty() || _wcsicmp(installed.account.c_str(), L"LocalSystem") == 0);
  EXPECT_FALSE(installed.description.empty());
  EXPECT_EQ(InstalledVersions(), std::vector<std::wstring>{KV_TEST_VERSION});
  // The event source names the installed program's message table.
  EXPECT_EQ(EventSourceValue(L"EventMessageFile"), app_ + L"\\Kestravondalsc.exe");
  EXPECT_EQ(EventSourceValue(L"TypesSupported"), L"7");
  // Wine keeps no service security, so the action's own line shows it set the list.
  EXPECT_TRUE(Contains(MsiLog(L"install.log"), "Kestravondalsc: service access list set: D:(A;;")) << "no line";
  EXPECT_TRUE(Contains(MsiLog(L"install.log"), "Kestravondalsc: program folder access list set: D:P(")) << "no line";
  GroupAccess folder;
  EXPECT_FALSE(JudgeFileAccess(app_, folder).Failed());
  EXPECT_TRUE(folder.write.empty() && folder.createFolders.empty()) << Narrow(PrincipalNames(folder.write));
  const std::string settings = test::ReadFileBytes(settingsFile_);
  EXPECT_EQ(settings.rfind("\xEF\xBB\xBF", 0), 0u) << settings;
  // The window moved 03:00 somewhere within the hour after it, once.
  EXPECT_TRUE(Contains(settings, "[Kestravondal]\r\nOtherUncPath=" + Narrow(source_) +
                                     "\r\nTimeIntervalHour=12\r\nUpdateTime=03:"))
      << settings;
  const std::size_t at = settings.find("UpdateTime=");
  const std::string spreadTime = at == std::string::npos ? "" : settings.substr(at, 16);
  // The first update read the settings and installed the published set; the installed
  // kvtool finds the service and its files by itself.
  ASSERT_TRUE(WaitForLog("Result=0x0:Success", 1)) << Log();
  EXPECT_TRUE(Contains(Log(), spreadTime)) << spreadTime << Log();
  EXPECT_EQ(Status().rfind("KESTRAVONDALSC OK - definitions 2026.12.08, 0 days old, last update ", 0), 0u) << Status();
  EXPECT_TRUE(Contains(Status(L"--json"), "\"programVersion\":\"" + Narrow(KV_TEST_VERSION) + "\""));

  // The administrator edits the settings; the upgrade's properties must not replace them.
  const std::string edited = "[Kestravondal]\r\nUpdateTime=04:30\r\nOtherUncPath=" + Narrow(source_) + "\r\n";
  ASSERT_TRUE(test::WriteFileBytes(settingsFile_, edited));
  const std::string logBefore = Log();
  ASSERT_EQ(Msiexec(L"/i " + Package(KV_TEST_NEXT_VERSION) + L" UPDATETIME=05:00", L"upgrade.log"), 0u);
  ASSERT_TRUE(Eventually(ServiceRuns));
  EXPECT_NE(QueryService().status.dwProcessId, installed.status.dwProcessId) << "stopped and started again";
  const std::string json = Status(L"--json");
  EXPECT_TRUE(Contains(json, "\"programVersion\":\"" + Narrow(KV_TEST_NEXT_VERSION) + "\"")) << json;
  EXPECT_TRUE(Contains(json, "\"state\":\"running\"")) << json;
  EXPECT_EQ(InstalledVersions(), std::vector<std::wstring>{KV_TEST_NEXT_VERSION});
  EXPECT_EQ(test::ReadFileBytes(settingsFile_), edited);
  // The new start reads the edited file and appends to the same log.
  ASSERT_TRUE(WaitForLog("UpdateTime=04:30", 1)) << Log();
  ASSERT_TRUE(WaitForLog("[Update_", Count(logBefore, "[Update_") + 1)) << Log();
  EXPECT_EQ(Log().rfind(logBefore, 0), 0u) << "the log grows, nothing of it is lost";

  // Removal: the service and the programs go, what the service wrote stays.
  ASSERT_EQ(Msiexec(L"/x " + Package(KV_TEST_NEXT_VERSION), L"uninstall.log"), 0u);
  EXPECT_EQ(QueryService().openError, static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
  EXPECT_TRUE(InstalledProducts().empty());
  EXPECT_EQ(EventSourceValue(L"EventMessageFile"), L"") << "the event source goes with the product";
  EXPECT_EQ(test::FolderListing(app_),
            (std::vector<std::wstring>{L"Kestravondal.ini", L"ScannerVersion.ini", L"defs", L"defs.highest",
                                       L"defs.identities", L"log"}));
  EXPECT_EQ(test::ReadFileBytes(settingsFile_), edited);
}

// The next version's installation fails after the old version's removal has run: the
// removal is part of the installation's transaction, so the rollback puts the old
// version back, installed and running.
TEST_F(PackageTest, AFailedUpgradeLeavesTheOldVersionRunning) {
  ASSERT_EQ(Msiexec(L"/i " + Package(KV_TEST_VERSION) + L" OTHERUNCPATH=\"" + source_ + L"\"", L"before.log"), 0u);
  ASSERT_TRUE(Eventually(ServiceRuns));
  ASSERT_TRUE(WaitForLog("Result=0x0:Success", 1)) << Log();

  // Windows answers 1603; Wine at times 1627.
  const DWORD failed = Msiexec(L"/i " + Package(KV_TEST_NEXT_VERSION, L"-failing"), L"failed-upgrade.log");
  EXPECT_TRUE(failed == ERROR_INSTALL_FAILURE || failed == ERROR_FUNCTION_FAILED) << failed;
  const std::string log = MsiLog(L"failed-upgrade.log");
  ASSERT_TRUE(Contains(log, "FailLate")) << "the broken version failed where it should";
  const std::size_t initialized = log.find(": InstallInitialize. Return value 1");
  const std::size_t removal = log.find(": RemoveExistingProducts.");
  ASSERT_NE(removal, std::string::npos);
  EXPECT_LT(initialized, removal) << "the old version goes inside the transaction, after InstallInitialize";
  if (QueryService().openError == ERROR_SERVICE_DOES_NOT_EXIST && test::UnderWine()) {
    GTEST_SKIP() << "Wine's msiexec removes the old version at once, in a process of its own, which no rollback "
                    "reaches: only the order is checked here";
  }
  EXPECT_EQ(InstalledVersions(), std::vector<std::wstring>{KV_TEST_VERSION});
  ASSERT_TRUE(Eventually(ServiceRuns)) << "the old service runs again";
  EXPECT_TRUE(Contains(Status(L"--json"), "\"programVersion\":\"" + Narrow(KV_TEST_VERSION) + "\""));
}

TEST_F(PackageTest, TheServiceStartsAfterTheBootsAndIsRestartedAfterACrash) {
  // Without properties no settings file is written, and the service runs all the same.
  ASSERT_EQ(Msiexec(L"/i " + Package(KV_TEST_VERSION), L"recovery.log"), 0u);
  ASSERT_TRUE(Eventually(ServiceRuns));
  EXPECT_EQ(::GetFileAttributesW(settingsFile_.c_str()), INVALID_FILE_ATTRIBUTES);
  const ServiceFacts facts = QueryService();
  EXPECT_EQ(facts.startType, static_cast<DWORD>(SERVICE_AUTO_START));
  // Wine keeps neither setting: each is checked where it is kept, and skipped visibly where not.
  const bool wine = test::UnderWine();
  const char* noDelay = facts.delayed ? "" : "Wine's service control manager keeps no delayed automatic start; ";
  if (!facts.delayed && !wine) ADD_FAILURE() << "not set to a delayed automatic start";
  const SERVICE_FAILURE_ACTIONSW failure = facts.failure;
  if (failure.cActions == 0 && wine) {
    GTEST_SKIP() << noDelay << "Wine's service control manager accepts failure actions but keeps none";
  }
  EXPECT_EQ(failure.dwResetPeriod, 86400u);
  ASSERT_EQ(failure.cActions, 3u);
  EXPECT_EQ(failure.lpsaActions[0].Type, SC_ACTION_RESTART);
  EXPECT_EQ(failure.lpsaActions[1].Delay, 60000u);
  EXPECT_EQ(failure.lpsaActions[2].Type, SC_ACTION_NONE);
  if (!facts.delayed && wine) GTEST_SKIP() << noDelay;
}

}  // namespace
}  // namespace kv
