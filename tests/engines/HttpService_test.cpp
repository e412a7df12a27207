// The installed service with the reference engine and no settings file, so that every
// update asks for "UpdateHttp": its built-in settings name the web server and the key.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "support/DefinitionSets.h"
#include "support/EventTrace.h"
#include "support/InstalledService.h"
#include "support/WebServers.h"
#include "support/WinTestUtil.h"

namespace kv {
namespace {

using test::Servers;

using test::Narrow;

class HttpServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!Servers().ready) GTEST_SKIP() << "the web servers of the http fixture are not running";
    folder_ = Servers().Folder(L"service");
    test::RemoveTree(folder_);
    root_ = test::FreshFolder(L"http_service");
    v1_ = {L"1.0", L"2026-12-01",
           {{L"alpha.def", test::Pattern(4096, 1)}, {L"beta.def", test::Pattern(9000, 2)},
            {L"gamma.def", test::Noise(600000, 3)}},
           true};
    test::PublishSigned(folder_, v1_);
  }
  void TearDown() override {
    service_.reset();
    test::RemoveTree(root_);
    if (Servers().ready) test::RemoveTree(folder_);
  }

  void Install(const std::string& settingsFile, const std::string& engineLines = "",
               const std::wstring& url = Servers().Http(L"service/")) {
    const std::string builtin = "[Setting]\r\nScanDll=ScanEngine.dll\r\nTimerElapse=1\r\nLogFolder=log\r\n"
                                "[AntiVirus]\r\nDefDatFolder=defs\r\n[ScanEngine]\r\nUpdateUrl=" +
                                Narrow(url) + "\r\nPublicKey=" +
                                Narrow(test::TestKey().publicKey) + "\r\n" + engineLines;
    service_ = std::make_unique<test::InstalledService>(root_, L"app", builtin, settingsFile);
    ASSERT_TRUE(service_->Ready());
    ASSERT_TRUE(service_->Service().Start()) << "error " << service_->Service().StartError();
  }
  std::string Defs(const wchar_t* name) const { return test::ReadFileBytes(service_->Folder() + L"\\defs\\" + name); }
  // The requests nginx served for this test's set after the first `from`, once there
  // are `count`, as "name status".
  std::vector<std::string> Requests(std::size_t from, std::size_t count) const {
    std::vector<std::string> names;
    for (const std::string& line : test::RequestsAfter("/service/", from, count)) {
      names.push_back(line.substr(9, line.rfind(' ') - 9));
    }
    return names;
  }

  std::wstring folder_, root_;
  test::DefinitionSet v1_;
  std::unique_ptr<test::InstalledService> service_;
};

// What a newer set costs over HTTP is the engine suite's; here the service's own path.
TEST_F(HttpServiceTest, StartInstallsAndControl200IsNotModified) {
  const std::size_t start = test::AccessLog("/service/").size();
  const std::size_t traced = test::EventTraceSize();
  Install("");
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_TRUE(service_->WaitForLog("[Update_", 1)) << service_->Log();
  EXPECT_EQ(service_->Count("Result=0x0:Success\r\n"), 1) << service_->Log();
  EXPECT_EQ(Defs(L"gamma.def"), v1_.files[2].bytes);
  EXPECT_EQ(Requests(start, 5).size(), 5u);

  ASSERT_TRUE(service_->RequestUpdate(2)) << service_->Log();
  EXPECT_EQ(service_->Count("Result=0x32880003:"), 1) << service_->Log();
  EXPECT_EQ(Requests(start + 5, 1), std::vector<std::string>{"defset.ini 304"});
  // More requests while nothing was published: no event for any of them (the next event
  // below comes right after the first).
  ASSERT_TRUE(service_->RequestUpdate(3)) << service_->Log();
  ASSERT_TRUE(service_->RequestUpdate(4)) << service_->Log();

  // An older set, validly signed: refused before any file is fetched; the record and
  // the version file still name 1.0.
  test::PublishSigned(folder_, {L"0.9", L"2026-11-30", {{L"gamma.def", test::Pattern(20000, 4)}}});
  ASSERT_TRUE(service_->RequestUpdate(5)) << service_->Log();
  EXPECT_EQ(service_->Count("Result=0x7EC10030:OlderDefinitionVersion,"), 1) << service_->Log();
  EXPECT_EQ(service_->Count("DefinitionVersion=1.0\r\n"), 5) << service_->Log();
  EXPECT_EQ(Requests(start + 8, 2), (std::vector<std::string>{"defset.ini 200", "defset.sig 200"}));
  const std::string versionFile = test::ReadFileBytes(service_->Folder() + L"\\ScannerVersion.ini");
  EXPECT_NE(versionFile.find("DefinitionVersion=1.0\r\n"), std::string::npos) << versionFile;

  // A few bytes changed inside a file: nginx serves its index and the one range around them.
  test::DefinitionSet v2 = v1_;
  v2.version = L"2.0";
  v2.files[2].bytes.replace(300000, 5000, test::Noise(5000, 9));
  test::PublishSigned(folder_, v2);
  ASSERT_TRUE(service_->RequestUpdate(6)) << service_->Log();
  EXPECT_EQ(service_->Count("Result=0x0:Success\r\n"), 2) << service_->Log();
  EXPECT_EQ(Defs(L"gamma.def"), v2.files[2].bytes);
  EXPECT_EQ(Requests(start + 10, 4), (std::vector<std::string>{"defset.ini 200", "defset.sig 200",
                                                              "defset.chunks/gamma.def 200", "gamma.def 206"}));

  // Small changes all over the file, published with a patch from 2.0: the service fetches
  // the patch alone.
  test::DefinitionSet v3 = v2;
  v3.version = L"3.0";
  for (std::size_t at = 10000; at < 600000; at += 97000) v3.files[2].bytes.replace(at, 40, test::Noise(40, 10 + at));
  test::PublishSigned(folder_, v3, test::TestKey(), test::PublishPackedObjects(folder_, v3, &v2));
  ASSERT_TRUE(service_->RequestUpdate(7)) << service_->Log();
  EXPECT_EQ(service_->Count("Result=0x0:Success\r\n"), 3) << service_->Log();
  EXPECT_EQ(Defs(L"gamma.def"), v3.files[2].bytes);
  const std::vector<std::string> patched = Requests(start + 14, 3);
  ASSERT_EQ(patched.size(), 3u);
  EXPECT_EQ(patched[2].substr(0, 15), "defset.patches/") << patched[2];
  EXPECT_TRUE(test::WaitForFileText(service_->Folder() + L"\\ScannerVersion.ini", "PatchedFiles=1\r\n"));

  // In the Application log: one event per update that installed or failed, none for the
  // five that found the set current.
  const std::vector<test::TracedEvent> events = test::TracedEvents(traced, 4);
  ASSERT_EQ(events.size(), 4u);
  const struct {
    unsigned type, id;
    std::vector<std::string> strings;  // the first ones, exactly
  } expected[] = {{EVENTLOG_INFORMATION_TYPE, 1000, {"1.0", "none"}},
                  {EVENTLOG_ERROR_TYPE, 1001, {}},
                  {EVENTLOG_INFORMATION_TYPE, 1000, {"2.0", "1.0"}},
                  {EVENTLOG_INFORMATION_TYPE, 1000, {"3.0", "2.0"}}};
  for (std::size_t i = 0; i < events.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(events[i].type, expected[i].type);
    EXPECT_EQ(events[i].id, expected[i].id);
    ASSERT_GE(events[i].strings.size(), expected[i].strings.size());
    for (std::size_t j = 0; j < expected[i].strings.size(); ++j) EXPECT_EQ(events[i].strings[j], expected[i].strings[j]);
  }
  ASSERT_EQ(events[1].strings.size(), 3u);
  EXPECT_EQ(events[1].strings[0].rfind("0x7EC10030:OlderDefinitionVersion,", 0), 0u) << events[1].strings[0];
  EXPECT_EQ(events[1].strings[1].rfind("0x7EC10030,", 0), 0u) << events[1].strings[1];
  EXPECT_EQ(events[1].strings[2], "1.0") << "the version still in use";
  EXPECT_NE(events[3].strings[3].find("/service/"), std::string::npos) << "the source";
  ASSERT_TRUE(service_->Service().StopAndWait());
}

// A source that asks for time is a warning, said when it asks; the updates that then wait
// it out say nothing more.
TEST_F(HttpServiceTest, ASourceAskingForTimeIsOneWarning) {
  const std::size_t traced = test::EventTraceSize();
  Install("", "", Servers().Fault(L"busy-503-s-3600", L"service/"));
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_TRUE(service_->WaitForLog("[Update_", 1)) << service_->Log();
  ASSERT_TRUE(service_->RequestUpdate(2)) << service_->Log();
  ASSERT_TRUE(service_->RequestUpdate(3)) << service_->Log();
  EXPECT_EQ(service_->Count("Result=0x7EC10027:UpdateDeferred,"), 2) << service_->Log();
  ASSERT_TRUE(service_->Service().StopAndWait());
  const std::vector<test::TracedEvent> events = test::TracedEvents(traced, 1);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].type, static_cast<unsigned>(EVENTLOG_WARNING_TYPE));
  EXPECT_EQ(events[0].id, 1002u);
  ASSERT_EQ(events[0].strings.size(), 3u);
  EXPECT_EQ(events[0].strings[0].size(), 20u) << "a UTC moment: " << events[0].strings[0];
  EXPECT_NE(events[0].strings[1].find("busy-503-s-3600/service/"), std::string::npos) << events[0].strings[1];
}

TEST_F(HttpServiceTest, TheProxyAccountOfTheSettingsFileAnswersTheProxy) {
  const std::string proxyLine = "ProxyServer=" + Narrow(Servers().Proxy()) + "\r\n";
  const std::string password = Narrow(Servers().proxyPass);
  for (const std::string& given : {password + "-wrong", password}) {
    SCOPED_TRACE(given);
    const std::string before = test::ReadFileBytes(Servers().proxyLog);
    Install("[Kestravondal]\r\nProxyUser=" + Narrow(Servers().proxyUser) + "\r\nProxyPass=" + given +
                "\r\nIsEnableProxyPass=1\r\n",
            proxyLine);
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(service_->WaitForLog("[Update_", 1)) << service_->Log();
    const bool right = given == password;
    EXPECT_EQ(service_->Count(right ? "Result=0x0:Success\r\n" : "Result=0x6D5E0197:"), 1) << service_->Log();
    const std::string passed = test::ReadFileBytes(Servers().proxyLog).substr(before.size());
    EXPECT_NE(passed.find("GET " + Narrow(Servers().Http(L"service/defset.ini"))), std::string::npos) << passed;
    ASSERT_TRUE(service_->Service().StopAndWait());
    EXPECT_EQ(service_->Log().find(password), std::string::npos);
    EXPECT_EQ(test::ReadFileBytes(service_->Folder() + L"\\ScannerVersion.ini").find(password), std::string::npos);
    service_.reset();
    test::RemoveTree(root_ + L"\\app");
  }
}

}  // namespace
}  // namespace kv
