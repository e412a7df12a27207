// The Windows Installer package on a machine that has never seen the product: a refused
// installation, a silent installation with settings, an upgrade to the next version over
// an edited settings file, and the removal. The machine is the prefix msi-fixture makes
// for every run; the packages are the build's and one of the next version.
#include <windows.h>
// After windows.h, which it needs.
#include <msi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/TextEncoding.h"
#include "support/DefinitionSets.h"
#include "support/ServiceUnderTest.h"
#include "support/ToolRun.h"
#include "support/WinTestUtil.h"

namespace kv {
namespace {

constexpr wchar_t kServiceName[] = L"Kestravondalsc";
constexpr wchar_t kUpgradeCode[] = L"{5E0C3B1A-7F41-4D2C-9A6E-2B8D1C4F7A10}";
constexpr DWORD kLongWaitMs = 120000;

std::wstring PackageFolder() { return test::ProgramFolder() + L"\\..\\msi-test"; }
std::wstring Package(const std::wstring& version) {
  return PackageFolder() + L"\\Kestravondalsc-" + version + L"-x64.msi";
}

// msiexec with a verbose log in the package folder; its exit code.
DWORD Msiexec(const std::wstring& arguments, const std::wstring& logName) {
  return test::RunProgram(L"msiexec " + arguments + L" /qn /l*v \"" + PackageFolder() + L"\\" + logName + L"\"",
                          kLongWaitMs);
}

std::string Narrow(const std::wstring& text) {
  std::string bytes;
  (void)WideToNarrow(text, CP_UTF8, 0, bytes);
  return bytes;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

int Count(const std::string& text, const std::string& part) {
  int count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
  return count;
}

// The service as the service control manager has it: whether it exists, its state and
// process, and its registration.
struct ServiceFacts {
  DWORD openError = 0;
  DWORD state = 0;
  DWORD processId = 0;
  DWORD type = 0;
  DWORD startType = 0;
  std::wstring binaryPath;
  std::wstring account;
  std::wstring description;
  // Restart after a crash: the reset period and the actions' types and delays.
  DWORD resetSeconds = 0;
  std::vector<SC_ACTION> failureActions;
};

ServiceFacts QueryService() {
  ServiceFacts facts;
  SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE service =
      manager ? ::OpenServiceW(manager, kServiceName, SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG) : nullptr;
  if (service == nullptr) {
    facts.openError = ::GetLastError();
  } else {
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    if (::QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status,
                               &needed)) {
      facts.state = status.dwCurrentState;
      facts.processId = status.dwProcessId;
    }
    std::vector<BYTE> buffer(8192);
    if (::QueryServiceConfigW(service, reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data()),
                              static_cast<DWORD>(buffer.size()), &needed)) {
      const auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
      facts.type = config->dwServiceType;
      facts.startType = config->dwStartType;
      facts.binaryPath = config->lpBinaryPathName ? config->lpBinaryPathName : L"";
      facts.account = config->lpServiceStartName ? config->lpServiceStartName : L"";
    }
    if (::QueryServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, buffer.data(), static_cast<DWORD>(buffer.size()),
                               &needed)) {
      const auto* description = reinterpret_cast<SERVICE_DESCRIPTIONW*>(buffer.data());
      facts.description = description->lpDescription ? description->lpDescription : L"";
    }
    if (::QueryServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, buffer.data(),
                               static_cast<DWORD>(buffer.size()), &needed)) {
      const auto* failure = reinterpret_cast<SERVICE_FAILURE_ACTIONSW*>(buffer.data());
      facts.resetSeconds = failure->dwResetPeriod;
      facts.failureActions.assign(failure->lpsaActions, failure->lpsaActions + failure->cActions);
    }
    ::CloseServiceHandle(service);
  }
  if (manager) ::CloseServiceHandle(manager);
  return facts;
}

bool WaitForRunning(DWORD timeoutMs = kLongWaitMs) {
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  while (QueryService().state != SERVICE_RUNNING) {
    if (::GetTickCount64() > deadline) return false;
    ::Sleep(100);
  }
  return true;
}

// The installed products of the package's upgrade code.
std::vector<std::wstring> InstalledProducts() {
  std::vector<std::wstring> products;
  wchar_t product[39] = {};
  for (DWORD i = 0; ::MsiEnumRelatedProductsW(kUpgradeCode, 0, i, product) == ERROR_SUCCESS; ++i) {
    products.push_back(product);
  }
  return products;
}

std::vector<std::wstring> InstalledVersions() {
  std::vector<std::wstring> versions;
  for (const std::wstring& product : InstalledProducts()) {
    wchar_t version[64] = {};
    DWORD size = 64;
    ::MsiGetProductInfoW(product.c_str(), INSTALLPROPERTY_VERSIONSTRING, version, &size);
    versions.push_back(version);
  }
  return versions;
}

bool RunsOnWine() { return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr; }

class PackageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t programFiles[MAX_PATH] = {};
    ASSERT_GT(::GetEnvironmentVariableW(L"ProgramW6432", programFiles, MAX_PATH), 0u);
    product_ = std::wstring(programFiles) + L"\\Kestravondalsc";
    app_ = product_ + L"\\app";
    ASSERT_EQ(QueryService().openError, static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST))
        << "the prefix is new for every run: no service yet";
    source_ = test::FreshFolder(L"kv_package_source");
    const std::string today = test::LocalDate();
    test::Publish(source_,
                  {L"2026.12.08", std::wstring(today.begin(), today.end()), {{L"virus.def", test::Pattern(3000, 5)}}});
  }

  // Whatever a test left installed goes, with the data, so that the next one starts on a
  // machine without the product.
  void TearDown() override {
    for (const std::wstring& product : InstalledProducts()) Msiexec(L"/x " + product, L"cleanup.log");
    test::RemoveTree(product_);
    test::RemoveTree(source_);
  }

  std::string Log() const { return test::MonthFilesContent(app_ + L"\\log"); }

  // The installed kvtool's "status".
  test::ToolRun Status(const std::wstring& arguments = {}) const {
    return test::RunKvtool(PackageFolder(), L"status " + arguments, app_ + L"\\kvtool.exe");
  }

  bool WaitForLog(const std::string& text, int times) const {
    const ULONGLONG deadline = ::GetTickCount64() + kLongWaitMs;
    while (Count(Log(), text) < times) {
      if (::GetTickCount64() > deadline) return false;
      ::Sleep(100);
    }
    return true;
  }

  std::wstring product_;
  std::wstring app_;
  std::wstring source_;
};

TEST_F(PackageTest, RefusesSettingsTheServiceCannotUse) {
  // Each stops the installation before anything changes.
  for (const wchar_t* property : {L"UPDATETIME=25:00", L"UPDATETIME=3", L"TIMEINTERVALHOUR=012"}) {
    SCOPED_TRACE(Narrow(property));
    EXPECT_EQ(Msiexec(L"/i \"" + Package(KV_TEST_VERSION) + L"\" " + property, L"refused.log"),
              static_cast<DWORD>(ERROR_INSTALL_FAILURE));
    EXPECT_EQ(QueryService().openError, static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    EXPECT_EQ(::GetFileAttributesW(app_.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(InstalledProducts().empty());
  }
}

TEST_F(PackageTest, InstallUpgradeAndRemove) {
  const std::wstring settingsFile = app_ + L"\\Kestravondal.ini";

  // Silent installation with the per-machine settings.
  ASSERT_EQ(Msiexec(L"/i \"" + Package(KV_TEST_VERSION) + L"\" UPDATETIME=03:00 TIMEINTERVALHOUR=12 OTHERUNCPATH=\"" +
                        source_ + L"\"",
                    L"install.log"),
            0u);
  ASSERT_TRUE(WaitForRunning());
  const ServiceFacts installed = QueryService();
  EXPECT_TRUE(Contains(Narrow(Status(L"--json").out), "\"programVersion\":\"" + Narrow(KV_TEST_VERSION) + "\""));
  EXPECT_EQ(installed.type, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
  EXPECT_EQ(installed.startType, static_cast<DWORD>(SERVICE_AUTO_START));
  EXPECT_TRUE(installed.account.empty() || _wcsicmp(installed.account.c_str(), L"LocalSystem") == 0)
      << Narrow(installed.account);
  EXPECT_NE(installed.binaryPath.find(app_ + L"\\Kestravondalsc.exe"), std::wstring::npos)
      << Narrow(installed.binaryPath);
  EXPECT_FALSE(installed.description.empty());
  EXPECT_EQ(InstalledVersions(), std::vector<std::wstring>{KV_TEST_VERSION});
  const std::string settings = test::ReadFileBytes(settingsFile);
  EXPECT_EQ(settings.rfind("\xEF\xBB\xBF", 0), 0u) << settings;
  EXPECT_TRUE(Contains(settings, "[Kestravondal]\r\nOtherUncPath=" + Narrow(source_) +
                                     "\r\nTimeIntervalHour=12\r\nUpdateTime=03:00\r\n"))
      << settings;
  // The first update read the settings: it installed the published set.
  ASSERT_TRUE(WaitForLog("Result=0x0:Success", 1)) << Log();
  EXPECT_TRUE(Contains(Log(), "UpdateTime=03:00")) << Log();
  // The installed kvtool finds the service and its files by itself.
  const test::ToolRun status = Status();
  EXPECT_EQ(status.exitCode, 0u) << Narrow(status.out) << Narrow(status.err);
  EXPECT_EQ(Narrow(status.out).rfind("KESTRAVONDALSC OK - definitions 2026.12.08, 0 days old, last update ", 0), 0u)
      << Narrow(status.out);

  // The administrator edits the settings; the upgrade's properties must not replace them.
  const std::string edited = "[Kestravondal]\r\nUpdateTime=04:30\r\nOtherUncPath=" + Narrow(source_) + "\r\n";
  ASSERT_TRUE(test::WriteFileBytes(settingsFile, edited));
  const std::string logBefore = Log();
  const std::string versionFile = test::ReadFileBytes(app_ + L"\\ScannerVersion.ini");
  ASSERT_FALSE(versionFile.empty());
  const DWORD oldProcess = installed.processId;

  ASSERT_EQ(Msiexec(L"/i \"" + Package(KV_TEST_NEXT_VERSION) + L"\" UPDATETIME=05:00", L"upgrade.log"), 0u);
  ASSERT_TRUE(WaitForRunning());
  const ServiceFacts upgraded = QueryService();
  EXPECT_NE(upgraded.processId, oldProcess) << "the service was stopped and started again";
  // The program running is the new one.
  const test::ToolRun json = Status(L"--json");
  EXPECT_TRUE(Contains(Narrow(json.out), "\"state\":\"running\"")) << Narrow(json.out);
  EXPECT_TRUE(Contains(Narrow(json.out), "\"programVersion\":\"" + Narrow(KV_TEST_NEXT_VERSION) + "\""))
      << Narrow(json.out);
  EXPECT_EQ(InstalledVersions(), std::vector<std::wstring>{KV_TEST_NEXT_VERSION});
  EXPECT_EQ(test::ReadFileBytes(settingsFile), edited);
  // The new start reads the edited file and appends to the same log.
  ASSERT_TRUE(WaitForLog("UpdateTime=04:30", 1)) << Log();
  EXPECT_EQ(Log().rfind(logBefore, 0), 0u) << "the log grows, nothing of it is lost";
  ASSERT_TRUE(WaitForLog("[Update_", Count(logBefore, "[Update_") + 1)) << Log();
  EXPECT_FALSE(test::ReadFileBytes(app_ + L"\\ScannerVersion.ini").empty());
  EXPECT_NE(::GetFileAttributesW((app_ + L"\\defs\\virus.def").c_str()), INVALID_FILE_ATTRIBUTES);

  // Removal: the service and the programs go, what the service wrote stays.
  ASSERT_EQ(Msiexec(L"/x \"" + Package(KV_TEST_NEXT_VERSION) + L"\"", L"uninstall.log"), 0u);
  EXPECT_EQ(QueryService().openError, static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
  EXPECT_TRUE(InstalledVersions().empty());
  EXPECT_EQ(test::FolderListing(app_),
            (std::vector<std::wstring>{L"Kestravondal.ini", L"ScannerVersion.ini", L"defs", L"log"}));
  EXPECT_EQ(test::ReadFileBytes(settingsFile), edited);
}

TEST_F(PackageTest, TheServiceIsRestartedAfterACrash) {
  // Without settings: no file is written, and the service still runs.
  ASSERT_EQ(Msiexec(L"/i \"" + Package(KV_TEST_VERSION) + L"\"", L"recovery.log"), 0u);
  ASSERT_TRUE(WaitForRunning());
  EXPECT_EQ(::GetFileAttributesW((app_ + L"\\Kestravondal.ini").c_str()), INVALID_FILE_ATTRIBUTES);
  const ServiceFacts facts = QueryService();
  if (facts.failureActions.empty() && RunsOnWine()) {
    GTEST_SKIP() << "Wine's service control manager accepts failure actions but keeps none";
  }
  EXPECT_EQ(facts.resetSeconds, 86400u);
  ASSERT_EQ(facts.failureActions.size(), 3u);
  EXPECT_EQ(facts.failureActions[0].Type, SC_ACTION_RESTART);
  EXPECT_EQ(facts.failureActions[1].Delay, 60000u);
  EXPECT_EQ(facts.failureActions[2].Type, SC_ACTION_NONE);
}

}  // namespace
}  // namespace kv
