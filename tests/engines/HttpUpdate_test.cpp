// The reference engine over HTTP(S), driven through the service's own scan session,
// against real servers on loopback: nginx, tinyproxy and a scripted fault server (the
// http fixture).
#include <windows.h>
#include <winhttp.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "../../engines/ScanEngine/ProxyRoute.h"
#include "config/IniDocument.h"
#include "defset/DefinitionManifest.h"
#include "defset/EngineCodes.h"
#include "defset/NotBeforeRecord.h"
#include "defset/PackWriter.h"
#include "defset/SetSignature.h"
#include "foundation/ErrorCodes.h"
#include "foundation/ErrorNames.h"
#include "kernel/HandleHolder.h"
#include "scan/ScanModule.h"
#include "scan/ScanSession.h"
#include "support/DefinitionSets.h"
#include "support/ResultAssertions.h"
#include "support/WebServers.h"
#include "support/WinTestUtil.h"

namespace kv {
namespace {

namespace ref = refengine;
using test::DefinitionSet;
using test::Pattern;
using test::Servers;

constexpr ErrorCode kHttp401 = 0x6D5E0191;
constexpr ErrorCode kHttp404 = 0x6D5E0194;
constexpr ErrorCode kHttp407 = 0x6D5E0197;
constexpr ErrorCode kHttp429 = 0x6D5E01AD;
constexpr ErrorCode kHttp500 = 0x6D5E01F4;
constexpr ErrorCode kHttp503 = 0x6D5E01F7;
constexpr ErrorCode kTimeout = 0x6E722EE2;
constexpr ErrorCode kCannotConnect = 0x6E722EFD;
constexpr ErrorCode kConnectionAborted = 0x6E722EFE;
constexpr ErrorCode kRedirectFailed = 0x6E722F7C;
constexpr ErrorCode kHttpsToHttp = 0x6E722F08;

using test::Narrow;

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// Moves a published file's modification time an hour on: nginx tags it anew (ETag and
// Last-Modified) although its bytes are the same.
void Retag(const std::wstring& file) {
  HandleHolder handle(::CreateFileW(file.c_str(), FILE_WRITE_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    0, nullptr));
  ASSERT_NE(handle.Get(), INVALID_HANDLE_VALUE);
  ULARGE_INTEGER now{};
  FILETIME time{};
  ::GetSystemTimeAsFileTime(&time);
  now.LowPart = time.dwLowDateTime;
  now.HighPart = time.dwHighDateTime;
  now.QuadPart += 3600ull * 10000000ull;
  time.dwLowDateTime = now.LowPart;
  time.dwHighDateTime = now.HighPart;
  ASSERT_TRUE(::SetFileTime(handle.Get(), nullptr, nullptr, &time));
}

std::wstring ResultValue(const std::wstring& result, const wchar_t* key) {
  IniDocument document(result);
  return document.GetString(key, {}, L"ScannerVersion");
}

// What an update hands the engine for a set on a web server.
struct WebSettings {
  WebSettings(std::wstring address, std::wstring lines = {}, std::wstring user = {}, std::wstring pass = {},
              bool logon = true)
      : url(std::move(address)), engineLines(std::move(lines)), proxyUser(std::move(user)),
        proxyPass(std::move(pass)), proxyLogon(logon) {}
  std::wstring url;
  std::wstring engineLines;  // further "Key=Value\r\n" lines of section "ScanEngine"
  std::wstring proxyUser, proxyPass;
  bool proxyLogon;
  std::wstring publicKey = test::TestKey().publicKey;
};

class HttpUpdateTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // As the service does at start-up: the engine's code names join the name map.
    ScanModule module;
    ASSERT_EQ(module.Load(test::ProgramFolder() + L"\\ScanEngine.dll"), 0u);
    const ErrorNameRow* rows = nullptr;
    std::uint32_t count = 0;
    ASSERT_EQ(module.readErrorTable()(&rows, &count), 0u);
    ASSERT_OK(MergeNames(rows, count));
  }

  void SetUp() override {
    if (!Servers().ready) GTEST_SKIP() << "the web servers of the http fixture are not running";
    case_ = Wide(::testing::UnitTest::GetInstance()->current_test_info()->name());
    test::RemoveTree(Servers().Folder(case_));
    root_ = test::FreshFolder(L"http_engine");
    ASSERT_TRUE(::CreateDirectoryW((root_ + L"\\inst").c_str(), nullptr));
    defs_ = root_ + L"\\inst\\Defs";
    ASSERT_OK(session_.Open(test::ProgramFolder() + L"\\ScanEngine.dll"));
  }
  void TearDown() override {
    if (!Servers().ready) return;
    EXPECT_OK(session_.Close());
    test::RemoveTree(root_);
    test::RemoveTree(Servers().Folder(case_));
  }

  // Publishes `set`, signed, as "<case>/<name>/" on the server's document root.
  std::wstring Publish(const std::wstring& name, const DefinitionSet& set) {
    const std::wstring folder = Servers().Folder(case_ + L"/" + name);
    test::PublishSigned(folder, set);
    return folder;
  }
  std::wstring Path(const std::wstring& name) const { return case_ + L"/" + name + L"/"; }
  std::string Uri(const std::wstring& name) const { return "/" + Narrow(Path(name)); }

  std::wstring Settings(const WebSettings& web) const {
    return L"[Setting]\r\nProxyUser=" + web.proxyUser + L"\r\nProxyPass=" + web.proxyPass +
           L"\r\nIsGuiProxyAuthentication=" + (web.proxyLogon ? L"1" : L"0") +
           L"\r\n[AntiVirus]\r\nUpdateTypeKey=UpdateHttp\r\nDefDatFolder=" + defs_ +
           L"\r\n[ScanEngine]\r\nUpdateUrl=" + web.url + L"\r\nPublicKey=" + web.publicKey + L"\r\n" +
           web.engineLines;
  }

  ResultChain Update(const WebSettings& web, std::wstring* result = nullptr) {
    std::wstring text;
    const ResultChain chain = session_.Update(Settings(web), text);
    if (result != nullptr) *result = text;
    return chain;
  }

  // The installed folder holds exactly the set's files, its manifest, signature and
  // origin; after a failed fetch, what it wrote may wait in "Defs.partial".
  void ExpectInstalled(const DefinitionSet& set, bool afterFailedFetch = false) const {
    std::vector<std::wstring> expected{L"defset.ini", L"defset.origin", L"defset.sig"};
    for (const test::SetFile& file : set.files) {
      expected.push_back(file.name);
      EXPECT_TRUE(test::ReadFileBytes(defs_ + L"\\" + file.name) == file.bytes) << Narrow(file.name);
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(test::FolderListing(defs_), expected);
    std::vector<std::wstring> beside = test::FolderListing(root_ + L"\\inst");
    if (afterFailedFetch) std::erase(beside, L"Defs.partial");
    EXPECT_EQ(beside, (std::vector<std::wstring>{L"Defs", L"Defs.highest", L"Defs.identities"})) << "no staging left";
  }

  const DefinitionSet v1_{L"1.0", L"2026-12-01",
                          {{L"alpha.def", Pattern(3000, 1)},
                           {L"beta.dat", Pattern(70000, 2)},
                           {L"empty.bin", ""},
                           {L"with space+plus.def", Pattern(5000, 3)}}};
  const DefinitionSet v2_{L"2.0", L"2026-12-08",
                          {{L"alpha.def", Pattern(3000, 1)},
                           {L"beta.dat", Pattern(70000, 9)},
                           {L"empty.bin", ""},
                           {L"with space+plus.def", Pattern(5000, 3)}}};

  std::wstring case_, root_, defs_;
  ScanSession session_;
};

TEST_F(HttpUpdateTest, AnUnchangedSetCostsOneRequestAndANewerSetOnlyItsChangedFile) {
  const std::wstring folder = Publish(L"set", v1_);
  const std::string uri = Uri(L"set");
  const std::size_t start = test::AccessLog(uri).size();
  std::wstring result;
  const ResultChain first = Update({Servers().Http(Path(L"set"))}, &result);
  ASSERT_OK(first);
  ExpectInstalled(v1_);
  EXPECT_EQ(ResultValue(result, L"Source"), Servers().Http(Path(L"set")));
  EXPECT_EQ(ResultValue(result, L"FetchedFiles"), L"4");
  EXPECT_EQ(test::RequestsAfter(uri, start, 6).size(), 6u) << "manifest, signature and four files";

  const ResultChain second = Update({Servers().Http(Path(L"set"))}, &result);
  EXPECT_EQ(second.Last(), err::AlreadyLastestDefinition) << Narrow(second.ToText());
  EXPECT_EQ(ResultValue(result, L"DefinitionVersion"), L"1.0");
  EXPECT_EQ(ResultValue(result, L"FetchedBytes"), L"0");
  EXPECT_EQ(test::RequestsAfter(uri, start + 6, 1), std::vector<std::string>{uri + "defset.ini 304 0"});

  // Re-tagged but unchanged: nothing is installed, and the new tags are kept, so the
  // check after it is conditional again.
  Retag(folder + L"\\defset.ini");
  const ResultChain retagged = Update({Servers().Http(Path(L"set"))});
  EXPECT_EQ(retagged.Last(), err::AlreadyLastestDefinition) << Narrow(retagged.ToText());
  EXPECT_EQ(Update({Servers().Http(Path(L"set"))}).Last(), err::AlreadyLastestDefinition);
  const std::vector<std::string> rechecked = test::RequestsAfter(uri, start + 7, 3);
  ASSERT_EQ(rechecked.size(), 3u);
  EXPECT_EQ(rechecked[0].substr(0, uri.size() + 14), uri + "defset.ini 200");
  EXPECT_EQ(rechecked[2], uri + "defset.ini 304 0");

  Publish(L"set", v2_);
  const ResultChain third = Update({Servers().Http(Path(L"set"))}, &result);
  ASSERT_OK(third);
  ExpectInstalled(v2_);
  const std::vector<std::string> fetched = test::RequestsAfter(uri, start + 10, 3);
  ASSERT_EQ(fetched.size(), 3u);
  EXPECT_EQ(fetched[0].substr(0, uri.size() + 14), uri + "defset.ini 200");
  EXPECT_EQ(fetched[1].substr(0, uri.size() + 14), uri + "defset.sig 200");
  EXPECT_EQ(fetched[2], uri + "beta.dat 200 70000") << "only the changed file";
  EXPECT_EQ(ResultValue(result, L"FetchedFiles"), L"1");
  EXPECT_EQ(ResultValue(result, L"FetchedBytes"), L"70000");
  EXPECT_EQ(ResultValue(result, L"ReusedFiles"), L"3");
  EXPECT_EQ(ResultValue(result, L"LinkedFiles"), L"3");
}

// Hostile answers included: a server asking for an account, a trickle, a detour to
// plain HTTP. Besides the result, a row says what the fault server may have received.
TEST_F(HttpUpdateTest, ServerFaultsLeaveTheInstalledSetCompleteAndTheNextUpdateSucceeds) {
  Publish(L"v1", v1_);
  const std::wstring v1Url = Servers().Http(Path(L"v1"));
  ASSERT_OK(Update({v1Url}));
  DefinitionSet longer = v2_;
  longer.files[1].bytes += "tail";
  struct Case {
    const wchar_t* name;
    std::function<void(const std::wstring& folder)> spoil;
    std::function<std::wstring(const std::wstring& path)> url;
    std::vector<ErrorCode> causes;  // the root cause is one of these
    std::wstring engineLines;
    // The proxy account is configured ("IsGuiProxyAuthentication=0"); otherwise the
    // service account's logon is.
    bool account = false;
    // Whether the fault server must have received requests of the row (never one with
    // an account), or none at all.
    enum { kElsewhere, kReached, kNever } faults = kElsewhere;
  };
  const auto plain = [](const std::wstring& p) { return Servers().Http(p); };
  const auto fault = [](const wchar_t* kind) {
    return [kind](const std::wstring& p) { return Servers().Fault(kind, p); };
  };
  const auto none = [](const std::wstring&) {};
  const auto replace = [](const wchar_t* name, std::string bytes) {
    return [name, bytes](const std::wstring& folder) { test::WriteFileBytes(folder + L"\\" + name, bytes); };
  };
  std::string flipped = v2_.files[1].bytes;
  flipped[4321] = static_cast<char>(flipped[4321] ^ 0x10);
  const test::SigningKey otherKey = [] {
    test::SigningKey key;
    std::string publicBlob;
    EXPECT_FALSE(ref::GenerateSigningKey(key.privateBlob, publicBlob).Failed());
    return key;
  }();
  // Validly signed, but older than the installed set: what a mirror that kept it serves.
  DefinitionSet older = v1_;
  older.version = L"0.9";
  const std::vector<Case> cases = {
      {L"older_signed_set", [&](const std::wstring& f) { test::PublishSigned(f, older); }, plain,
       {ref::OlderDefinitionVersion}, L""},
      {L"missing_file", [](const std::wstring& f) { ::DeleteFileW((f + L"\\beta.dat").c_str()); }, plain,
       {kHttp404}, L""},
      {L"server_error", none, [](const std::wstring& p) { return Servers().Http(L"status500/" + p); }, {kHttp500}, L""},
      {L"dropped_connection", none, [](const std::wstring& p) { return Servers().Fault(L"drop", p); },
       {kConnectionAborted, ref::FileSizeMismatch}, L""},
      {L"stalled_server", none, [](const std::wstring& p) { return Servers().Fault(L"stall", p); }, {kTimeout},
       L"ReceiveTimeoutSec=2\r\n"},
      {L"truncated_file", replace(L"beta.dat", v2_.files[1].bytes.substr(0, 1000)), plain,
       {ref::FileSizeMismatch}, L""},
      {L"longer_file", replace(L"beta.dat", longer.files[1].bytes), plain, {ref::FileSizeMismatch}, L""},
      {L"wrong_digest", replace(L"beta.dat", flipped), plain, {err::ErrorUncHashCompare}, L""},
      {L"bad_signature", [&](const std::wstring& f) { test::SignSet(f, otherKey); }, plain, {ref::SignatureInvalid},
       L""},
      {L"no_signature", [](const std::wstring& f) { ::DeleteFileW((f + L"\\defset.sig").c_str()); }, plain,
       {ref::SignatureNotFound}, L""},
      // A parser that read it first would name the unsafe name: it never gets the bytes.
      {L"unverified_manifest",
       [](const std::wstring& f) {
         test::WriteFileBytes(f + L"\\defset.ini", "[DefinitionSet]\r\nVersion=2.0\r\n[Files]\r\n" +
                                                    test::FileLine(L"..\\evil.def", "evil"));
       },
       plain, {ref::SignatureInvalid}, L""},
      // Validly signed, but its publisher no longer vouches for it.
      {L"expired_signed_set",
       [&](const std::wstring& f) {
         test::Publish(f, v2_, "[DefinitionSet]\r\nExpires=" + Narrow(UtcText(UtcNow() - 60)) + "\r\n");
         test::SignSet(f);
       },
       plain, {ref::SetExpired}, L""},
      {L"redirect_loop", none, [](const std::wstring&) { return Servers().Http(L"redirect-loop/"); },
       {kRedirectFailed}, L""},
      {L"too_many_redirects", none, [](const std::wstring& p) { return Servers().Http(L"moved/" + p); },
       {kRedirectFailed}, L"MaxRedirects=0\r\n"},
      // Wine names an unknown issuer 12157, Windows 12175 or 12045.
      {L"untrusted_certificate", none, [](const std::wstring& p) { return Servers().UntrustedHttps(p); },
       {0x6E722F7D, 0x6E722F8F, 0x6E722F0D}, L""},
      {L"nothing_listening", none, [](const std::wstring& p) { return L"http://localhost:1/" + p; },
       {kCannotConnect}, L""},
      {L"origin_asks_proxy_account", none, fault(L"ask407"), {kHttp407}, L"", true, Case::kReached},
      {L"origin_asks_logon", none, fault(L"ask401"), {kHttp401}, L"", false, Case::kReached},
      {L"origin_asks_account", none, fault(L"ask401"), {kHttp401}, L"", true, Case::kReached},
      {L"redirect_target_asks_logon", none, fault(L"moved401"), {kHttp401}, L"", false, Case::kReached},
      {L"trickle", none, fault(L"trickle"), {ref::TransferDeadlineExceeded}, L"TransferDeadlineSec=30\r\n", false,
       Case::kReached},
      {L"https_to_plain_http", none, [](const std::wstring& p) { return Servers().Https(L"to-plain/" + p); },
       {kHttpsToHttp}, L"", false, Case::kNever},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.name));
    const std::wstring folder = Publish(c.name, v2_);
    c.spoil(folder);
    std::wstring result;
    const WebSettings web = c.account ? WebSettings{c.url(Path(c.name)), c.engineLines, Servers().proxyUser,
                                                    Servers().proxyPass, false}
                                      : WebSettings{c.url(Path(c.name)), c.engineLines};
    const ResultChain chain = Update(web, &result);
    EXPECT_NE(std::find(c.causes.begin(), c.causes.end(), chain.Last()), c.causes.end()) << Narrow(chain.ToText());
    const std::vector<std::string> received = test::FaultRequests(Uri(c.name));
    if (c.faults == Case::kReached) {
      EXPECT_FALSE(received.empty());
    } else if (c.faults == Case::kNever) {
      EXPECT_EQ(received, std::vector<std::string>{});
    }
    for (std::string line : received) {
      std::transform(line.begin(), line.end(), line.begin(), [](char ch) { return static_cast<char>(std::tolower(ch)); });
      EXPECT_EQ(line.find("authorization:"), std::string::npos) << line;
    }
    EXPECT_TRUE(chain.Contains(ref::UpdateHttpIni) || chain.Contains(ref::UpdateHttpFolder) ||
                chain.Contains(ref::StepVerifyStagedSet))
        << Narrow(chain.ToText());
    EXPECT_NE(CodeName(chain.Last()), L"InvalidEnumValue") << std::hex << chain.Last();
    EXPECT_EQ(ResultValue(result, L"DefinitionVersion"), L"1.0");
    ExpectInstalled(v1_, true);

    // Once the server is sound, the next update installs the set; then v1 again on a
    // fresh destination (v1 is older, so nothing else takes it back there).
    Publish(c.name, v2_);
    const ResultChain sound = Update({Servers().Http(Path(c.name))});
    EXPECT_OK(sound);
    ExpectInstalled(v2_);
    test::RemoveTree(defs_);
    ASSERT_TRUE(::DeleteFileW((defs_ + L".highest").c_str()));
    ASSERT_OK(Update({v1Url}));
  }
}

// A mirror, or anyone on the path, that keeps answering "nothing new" cannot hold a
// machine on old definitions unseen once the publisher's signed expiry has passed; a
// publisher that signs the same set again moves the expiry on.
TEST_F(HttpUpdateTest, AFrozenChannelShowsOnceTheInstalledSetHasExpired) {
  const auto expires = [](std::int64_t utc) { return "[DefinitionSet]\r\nExpires=" + Narrow(UtcText(utc)) + "\r\n"; };
  const std::wstring folder = Servers().Folder(case_ + L"/set");
  test::Publish(folder, v1_, expires(UtcNow() + 86400));
  test::SignSet(folder);
  const std::wstring url = Servers().Http(Path(L"set"));
  ASSERT_OK(Update({url}));
  const std::string installed = test::ReadFileBytes(defs_ + L"\\defset.ini");
  const std::size_t at = installed.find("Expires=");
  ASSERT_NE(at, std::string::npos) << installed;
  // The day has passed: what the machine then holds, as far as the engine can tell.
  std::string past = installed;
  past.replace(at + 8, 20, Narrow(UtcText(UtcNow() - 60)));
  const std::wstring record = NotBeforePath(defs_);
  const struct {
    const char* name;
    std::function<void()> before;
    bool deferred;
  } rows[] = {
      {"not_modified", [] {}, false},
      {"deferred_by_the_server",
       [&] { ASSERT_TRUE(test::WriteFileBytes(record, NotBeforeBytes({UtcNow() + 3600, url}))); }, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ASSERT_TRUE(test::WriteFileBytes(defs_ + L"\\defset.ini", past));
    row.before();
    const std::size_t start = test::AccessLog(Uri(L"set")).size();
    std::wstring result;
    const ResultChain frozen = Update({url}, &result);
    EXPECT_EQ(frozen.Last(), ref::DefinitionsExpired) << Narrow(frozen.ToText());
    EXPECT_EQ(frozen.Contains(ref::UpdateDeferred), row.deferred) << Narrow(frozen.ToText());
    EXPECT_EQ(test::AccessLog(Uri(L"set")).size(), start + (row.deferred ? 0u : 1u));
    EXPECT_EQ(ResultValue(result, L"DefinitionVersion"), L"1.0");
    ::DeleteFileW(record.c_str());
    ExpectInstalled(v1_);
  }

  // Signed again with a later expiry: the new manifest and signature are fetched, the
  // files stay, and the set is current again.
  ASSERT_TRUE(test::WriteFileBytes(defs_ + L"\\defset.ini", past));
  const std::string later = expires(UtcNow() + 7 * 86400);
  test::Publish(folder, v1_, later);
  test::SignSet(folder);
  std::wstring result;
  EXPECT_EQ(Update({url}, &result).Last(), err::AlreadyLastestDefinition);
  EXPECT_EQ(ResultValue(result, L"FetchedFiles"), L"0");
  EXPECT_NE(test::ReadFileBytes(defs_ + L"\\defset.ini").find(later.substr(17)), std::string::npos);
  EXPECT_EQ(Update({url}).Last(), err::AlreadyLastestDefinition);
  ExpectInstalled(v1_);

  // Where the built-in configuration requires an expiry, a set without one is refused.
  Publish(L"v2", v2_);
  EXPECT_EQ(Update({Servers().Http(Path(L"v2")), L"RequireExpiry=1\r\n"}).Last(), ref::ManifestNoExpiry);
  ExpectInstalled(v1_);
}

// A server that asks for time: until the moment it named (at most 6 hours on), updates
// send it nothing; the fault server records what reached it.
TEST_F(HttpUpdateTest, AServerThatAsksForTimeIsSentNothingUntilThen) {
  Publish(L"v1", v1_);
  ASSERT_OK(Update({Servers().Http(Path(L"v1"))}));
  struct Case {
    const wchar_t* fault;  // busy-<status>-<form>-<n> (fault-server.py)
    ErrorCode status;
    std::int64_t held;  // seconds the record holds the server back; -1: no record, as without the header
  };
  const std::int64_t cap = 6 * 3600;
  const std::vector<Case> cases = {
      {L"busy-429-s-3600", kHttp429, 3600},      {L"busy-503-s-99999999", kHttp503, cap},
      {L"busy-503-imf-7200", kHttp503, 7200},    {L"busy-429-rfc850-7200", kHttp429, 7200},
      {L"busy-429-asctime-7200", kHttp429, 7200}, {L"busy-429-imf-86400", kHttp429, cap},
      {L"busy-503-junk-0", kHttp503, -1},        {L"busy-429-none-0", kHttp429, -1},
      {L"busy-503-s-2", kHttp503, 2},
  };
  const std::wstring record = NotBeforePath(defs_);
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.fault));
    const WebSettings web{Servers().Fault(c.fault, Path(L"v1"))};
    const std::string sentTo = Narrow(std::wstring(L"/") + c.fault + L"/" + Path(L"v1"));
    std::wstring result;
    // The fault server's record outlives a run.
    const std::size_t start = test::FaultRequests(sentTo).size();
    const std::int64_t before = UtcNow();
    const ResultChain refused = Update(web, &result);
    const std::int64_t after = UtcNow();
    EXPECT_EQ(refused.Last(), c.status) << Narrow(refused.ToText());
    const std::size_t sent = test::FaultRequests(sentTo).size();
    EXPECT_EQ(sent, start + 1) << "the manifest only";
    if (c.held < 0) {
      EXPECT_EQ(::GetFileAttributesW(record.c_str()), INVALID_FILE_ATTRIBUTES);
      EXPECT_EQ(ResultValue(result, L"NotBefore"), L"");
      continue;
    }
    const std::optional<NotBeforeRecord> kept = ParseNotBefore(test::ReadFileBytes(record));
    ASSERT_TRUE(kept.has_value());
    EXPECT_GE(kept->utc, before + c.held - 1);
    EXPECT_LE(kept->utc, after + c.held);
    EXPECT_EQ(ResultValue(result, L"NotBefore"), UtcText(kept->utc));
    const ResultChain deferred = Update(web, &result);
    if (deferred.Last() != ref::UpdateDeferred) {
      EXPECT_LE(kept->utc, UtcNow()) << "deferred only until the moment " << Narrow(deferred.ToText());
    } else {
      EXPECT_EQ(ResultValue(result, L"NotBefore"), UtcText(kept->utc));
      EXPECT_EQ(ResultValue(result, L"DefinitionVersion"), L"1.0");
      EXPECT_EQ(test::FaultRequests(sentTo).size(), sent) << "no request while deferred";
    }
    if (c.held <= 2) {
      // Once the moment has passed, the server is asked again (and asks for time again).
      ResultChain again = deferred;
      for (int i = 0; i < 100 && again.Last() == ref::UpdateDeferred; ++i) {
        ::Sleep(100);
        again = Update(web);
      }
      EXPECT_EQ(again.Last(), c.status) << Narrow(again.ToText());
      EXPECT_EQ(test::FaultRequests(sentTo).size(), sent + 1);
    }
  }

  // A record further ahead than the cap (a clock set back, a hand-edited file) holds the
  // server back no longer than the cap, and is written so; a damaged one holds nothing.
  const std::wstring url = Servers().Fault(L"busy-503-none-0", Path(L"v1"));
  const std::string sentTo = Narrow(L"/busy-503-none-0/" + Path(L"v1"));
  const std::size_t start = test::FaultRequests(sentTo).size();
  ASSERT_TRUE(test::WriteFileBytes(record, NotBeforeBytes({UtcNow() + 30 * 86400, url})));
  std::wstring result;
  EXPECT_EQ(Update({url}, &result).Last(), ref::UpdateDeferred);
  const std::optional<NotBeforeRecord> capped = ParseNotBefore(test::ReadFileBytes(record));
  ASSERT_TRUE(capped.has_value());
  EXPECT_LE(capped->utc, UtcNow() + cap);
  EXPECT_EQ(ResultValue(result, L"NotBefore"), UtcText(capped->utc));
  ASSERT_TRUE(test::WriteFileBytes(record, "[NotBefore]\r\nUtc=tomorrow\r\nUrl=" + Narrow(url) + "\r\n"));
  EXPECT_EQ(Update({url}).Last(), kHttp503);
  EXPECT_EQ(test::FaultRequests(sentTo).size(), start + 1);

  // Another server is not held back, and the record of the one that asked goes.
  EXPECT_EQ(Update({Servers().Http(Path(L"v1"))}).Last(), err::AlreadyLastestDefinition);
  ExpectInstalled(v1_);
}

TEST_F(HttpUpdateTest, HttpsAndRedirectsWithinTheLimitInstall) {
  Publish(L"v1", v1_);
  Publish(L"v2", v2_);
  const std::vector<std::pair<std::wstring, const DefinitionSet*>> cases = {
      {Servers().Https(Path(L"v1")), &v1_},
      {Servers().Http(L"moved/" + Path(L"v2")), &v2_},
  };
  for (const auto& [url, set] : cases) {
    SCOPED_TRACE(Narrow(url));
    const ResultChain chain = Update({url});
    EXPECT_OK(chain);
    ExpectInstalled(*set);
  }
}

TEST_F(HttpUpdateTest, ThroughTheProxyOnlyWithItsAccount) {
  Publish(L"set", v1_);
  const std::wstring proxyLine = L"ProxyServer=" + Servers().Proxy() + L"\r\n";
  const std::wstring url = Servers().Http(Path(L"set"));
  const std::wstring secure = Servers().Https(Path(L"set"));
  const std::wstring wrong = Servers().proxyPass + L"x";
  // Auto-configuration: a PAC file on the web server that names the proxy.
  ASSERT_TRUE(test::WriteFileBytes(Servers().Folder(case_ + L"/set") + L"\\proxy.pac",
                                   "function FindProxyForURL(url, host) { return \"PROXY " +
                                       Narrow(Servers().Proxy()) + "\"; }\n"));
  const std::wstring pacLine = L"ProxyAutoConfigUrl=" + url + L"proxy.pac\r\n";
  // The machine's proxy configuration, as "netsh winhttp set proxy" writes it.
  const auto machineProxy = [](const wchar_t* server) {
    std::wstring name = server != nullptr ? server : L"";
    WINHTTP_PROXY_INFO info{server != nullptr ? static_cast<DWORD>(WINHTTP_ACCESS_TYPE_NAMED_PROXY)
                                              : static_cast<DWORD>(WINHTTP_ACCESS_TYPE_NO_PROXY),
                            server != nullptr ? name.data() : nullptr, nullptr};
    return ::WinHttpSetDefaultProxyConfiguration(&info) != FALSE;
  };
  struct Case {
    const wchar_t* name;
    WebSettings settings;
    ErrorCode cause;
    bool viaMachineConfiguration = false;
  };
  const std::vector<Case> cases = {
      {L"wrong_password", {url, proxyLine, Servers().proxyUser, wrong, false}, kHttp407, false},
      {L"no_account", {url, proxyLine, L"", L"", false}, kHttp407, false},
      // A Basic-only proxy cannot take the service account's logon.
      {L"logon_only", {url, proxyLine, Servers().proxyUser, Servers().proxyPass, true}, kHttp407, false},
      {L"account", {url, proxyLine, Servers().proxyUser, Servers().proxyPass, false}, 0, false},
      {L"machine_configuration", {url, L"", Servers().proxyUser, Servers().proxyPass, false}, 0, true},
      {L"auto_configuration", {url, pacLine, Servers().proxyUser, Servers().proxyPass, false}, 0, false},
      // HTTPS travels through a tunnel; the proxy sees only its end points.
      {L"https_tunnel", {secure, L"ProxyServer=" + Servers().OpenProxy() + L"\r\n"}, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.name));
    test::RemoveTree(defs_);
    if (c.viaMachineConfiguration) {
      ASSERT_TRUE(machineProxy(Servers().Proxy().c_str())) << ::GetLastError();
    }
    const bool tunnelled = c.settings.url == secure;
    const std::wstring& proxyLog = tunnelled ? Servers().openProxyLog : Servers().proxyLog;
    const std::string before = test::ReadFileBytes(proxyLog);
    std::wstring result;
    const ResultChain chain = Update(c.settings, &result);
    if (c.viaMachineConfiguration) {
      EXPECT_TRUE(machineProxy(nullptr));
    }
    EXPECT_EQ(chain.Last(), c.cause) << Narrow(chain.ToText());
    if (!c.settings.proxyPass.empty()) {
      EXPECT_EQ(result.find(c.settings.proxyPass), std::wstring::npos);
    }
    // tinyproxy logs each request line it passes on; of HTTPS it sees only the tunnel.
    const std::string passed = test::ReadFileBytes(proxyLog).substr(before.size());
    const std::string host = Narrow(secure.substr(8, secure.find(L'/', 8) - 8));
    const std::string first = tunnelled ? "CONNECT " + host : "GET " + Narrow(url) + "defset.ini";
    EXPECT_NE(passed.find(first), std::string::npos) << passed;
    EXPECT_EQ(passed.find("GET " + Narrow(secure)), std::string::npos) << passed;
    if (c.cause == 0) {
      if (!tunnelled) {
        EXPECT_NE(passed.find("GET " + Narrow(url) + "beta.dat"), std::string::npos) << passed;
      }
      ExpectInstalled(v1_);
    } else {
      EXPECT_EQ(::GetFileAttributesW(defs_.c_str()), INVALID_FILE_ATTRIBUTES) << "nothing installed";
    }
  }
}

// Wine's WinHTTP never sends the account's logon, whatever the policy; Windows sends it
// to any server the policy allows. So the policy is read where the engine sets it: every
// request, direct, through a named proxy or after a redirect, asks for the high one.
TEST_F(HttpUpdateTest, EveryRequestAllowsTheLogonToNoServer) {
  Publish(L"set", v1_);
  const std::wstring library = test::ProgramFolder() + L"\\ScanEngineRenameFaults.dll";
  ASSERT_OK(session_.Close());
  ASSERT_OK(session_.Open(library));
  const FARPROC taking = ::GetProcAddress(::GetModuleHandleW(library.c_str()), "TakeHttpOptions");
  ASSERT_TRUE(taking != nullptr);
  const auto take = reinterpret_cast<unsigned(WINAPI*)(DWORD*, unsigned)>(reinterpret_cast<void*>(taking));
  const struct {
    const wchar_t* name;
    WebSettings settings;
  } rows[] = {
      {L"direct", {Servers().Http(Path(L"set"))}},
      {L"named_proxy", {Servers().Http(Path(L"set")), L"ProxyServer=" + Servers().Proxy() + L"\r\n",
                        Servers().proxyUser, Servers().proxyPass, false}},
      {L"after_a_redirect", {Servers().Http(L"moved/" + Path(L"set"))}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(Narrow(row.name));
    test::RemoveTree(defs_);
    std::vector<DWORD> options(4096);
    take(options.data(), static_cast<unsigned>(options.size()));
    const ResultChain chain = Update(row.settings);
    EXPECT_OK(chain);
    options.resize(std::min<std::size_t>(take(options.data(), static_cast<unsigned>(options.size())), options.size()));
    int requests = 0, high = 0, other = 0;
    for (std::size_t i = 0; i + 1 < options.size(); i += 2) {
      if (options[i] == WINHTTP_OPTION_DISABLE_FEATURE) ++requests;
      if (options[i] == WINHTTP_OPTION_AUTOLOGON_POLICY) {
        ++(options[i + 1] == WINHTTP_AUTOLOGON_SECURITY_LEVEL_HIGH ? high : other);
      }
    }
    EXPECT_GE(requests, 1 + static_cast<int>(v1_.files.size())) << "the manifest, its signature and the files";
    EXPECT_EQ(high, requests);
    EXPECT_EQ(other, 0);
  }
}

// How a proxy list and a bypass list are read decides where the proxy account goes.
// Wine runs no Web Proxy Auto-Discovery here, so the rule is read where the engine
// decides it: who named the proxy, against what the settings offer.
TEST(ProxyRouteTest, OnlyAProxyAnAdministratorNamedReceivesTheAccountOrTheLogon) {
  using Origin = ref::ProxyOrigin;
  using Offered = ref::ProxyCredentials;
  const struct {
    Origin origin;
    Offered account, logon, neither;  // stored account; IsGuiProxyAuthentication=1; no account
  } rows[] = {
      {Origin::kSetting, Offered::kAccount, Offered::kLogon, Offered::kNone},
      {Origin::kMachine, Offered::kAccount, Offered::kLogon, Offered::kNone},
      {Origin::kNamedScript, Offered::kAccount, Offered::kLogon, Offered::kNone},
      {Origin::kAutoDetected, Offered::kNone, Offered::kNone, Offered::kNone},
      {Origin::kDirect, Offered::kNone, Offered::kNone, Offered::kNone},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(static_cast<int>(row.origin));
    ref::HttpSettings account, logon, neither;
    account.proxyUser = L"operator";
    account.proxyPass = L"secret";
    account.proxyLogon = neither.proxyLogon = false;
    logon.proxyUser = L"operator";  // a stored name does not turn the logon off
    EXPECT_EQ(ref::CredentialsFor(row.origin, account), row.account);
    EXPECT_EQ(ref::CredentialsFor(row.origin, logon), row.logon);
    EXPECT_EQ(ref::CredentialsFor(row.origin, neither), row.neither);
  }
}

TEST(ProxyRouteTest, ProxyAndBypassListsAreReadAsWinHttpReadsThem) {
  struct Pick {
    const wchar_t* list;
    bool secure;
    const wchar_t* proxy;
  };
  for (const Pick& p : std::vector<Pick>{
           {L"proxy01:8080", true, L"proxy01:8080"},
           {L"http=p1:80;https=p2:443", false, L"p1:80"},
           {L"http=p1:80;HTTPS=p2:443", true, L"p2:443"},
           {L"http=p1:80", true, L""},
           {L"https=p2:443 fallback:3128", false, L"fallback:3128"},
           {L"http://p3:8080/", false, L"p3:8080"},
           {L"  ;  ", false, L""},
       }) {
    EXPECT_EQ(ref::ProxyForScheme(p.list, p.secure), p.proxy) << Narrow(p.list);
  }
  struct Bypass {
    const wchar_t* list;
    const wchar_t* host;
    bool bypassed;
  };
  for (const Bypass& b : std::vector<Bypass>{
           {L"<local>", L"intranet", true},
           {L"<local>", L"updates.example", false},
           {L"*.example;10.*", L"cdn.Updates.EXAMPLE", true},
           {L"*.example;10.*", L"10.1.2.3", true},
           {L"*.example 10.*", L"example", false},
           {L"http://mirror.example", L"mirror.example", true},
           {L"", L"localhost", false},
       }) {
    EXPECT_EQ(ref::BypassesProxy(b.list, b.host), b.bypassed) << Narrow(b.list) << " " << Narrow(b.host);
  }
}

// Ranges of a changed file: a server that ignores them or answers with other bytes costs
// the whole file; a transfer cut off keeps what it got, and the next update fetches only
// the rest (nginx's log shows the one range).
TEST_F(HttpUpdateTest, RangesThatGoWrongCostAtMostTheWholeFileAndACutOneResumes) {
  const std::string base = test::Noise(1 << 20, 4);
  std::string changed = base;
  changed.replace(400000, 65536, test::Noise(65536, 5));
  const DefinitionSet v1{L"1.0", L"2026-12-01", {{L"big.def", base}}, true};
  DefinitionSet v2 = v1;
  v2.version = L"2.0";
  v2.files[0].bytes = changed;
  const struct {
    const wchar_t* fault;
    ErrorCode cause;  // 0: installed, whole
  } rows[] = {{L"norange", 0}, {L"short206", 0}, {L"drop", kConnectionAborted}};
  for (const auto& row : rows) {
    SCOPED_TRACE(Narrow(row.fault));
    test::RemoveTree(root_ + L"\\inst");
    ASSERT_TRUE(::CreateDirectoryW((root_ + L"\\inst").c_str(), nullptr));
    Publish(row.fault, v1);
    ASSERT_OK(Update({Servers().Http(Path(row.fault))}));
    Publish(row.fault, v2);
    std::wstring result;
    const ResultChain chain = Update({Servers().Fault(row.fault, Path(row.fault))}, &result);
    if (row.cause == 0) {
      ASSERT_OK(chain);
      ExpectInstalled(v2);
      EXPECT_EQ(ResultValue(result, L"AssembledFiles"), L"0");
      continue;
    }
    EXPECT_EQ(chain.Last(), row.cause) << Narrow(chain.ToText());
    EXPECT_TRUE(test::ReadFileBytes(defs_ + L"\\big.def") == base);
    std::size_t asked = 0;
    for (const std::string& line : test::FaultRequests(Uri(row.fault) + "big.def")) {
      unsigned long long first = 0, last = 0;
      if (const std::size_t at = line.find("Range: bytes="); at != std::string::npos &&
          std::sscanf(line.c_str() + at, "Range: bytes=%llu-%llu", &first, &last) == 2) {
        asked = static_cast<std::size_t>(last - first + 1);
      }
    }
    ASSERT_GT(asked, 65536u) << "one range, the chunks around the change";
    const std::string uri = Uri(row.fault);
    const std::size_t start = test::AccessLog(uri).size();
    ASSERT_OK(Update({Servers().Http(Path(row.fault))}, &result));
    ExpectInstalled(v2);
    EXPECT_EQ(ResultValue(result, L"AssembledFiles"), L"1");
    const std::vector<std::string> served = test::RequestsAfter(uri, start, 4);
    ASSERT_EQ(served.size(), 4u);
    EXPECT_EQ(served[2].substr(0, uri.size() + 25), uri + "defset.chunks/big.def 200");
    unsigned long long bytes = 0;
    ASSERT_EQ(std::sscanf(served[3].c_str() + uri.size(), "big.def 206 %llu", &bytes), 1) << served[3];
    EXPECT_LT(bytes, asked) << "what the cut transfer got is not fetched again";
  }
}

TEST_F(HttpUpdateTest, EachFileComesTheCheapestWayAndAWayThatFailsFallsBackToTheNext) {
  // noise.def does not compress, so only a patch beats its raw bytes; text.def does.
  const std::string noise = test::Noise(200000, 1);
  const std::string text = Pattern(50000, 2);
  const DefinitionSet v1{L"1.0", L"2026-12-01", {{L"noise.def", noise}, {L"text.def", text}}};
  const auto edited = [&](unsigned seed) {
    DefinitionSet set = v1;
    set.version = L"2.0";
    set.files[0].bytes.replace(100000, 100, test::Noise(100, seed));
    set.files[1].bytes.replace(20000, 10, Pattern(10, seed));
    return set;
  };
  const DefinitionSet v2 = edited(5);
  const DefinitionSet never{L"0.5", L"2026-11-01", {{L"noise.def", test::Noise(200000, 7)}, {L"text.def", Pattern(50000, 5)}}};
  const auto digest = [](const std::string& bytes) { return Sha256::Of(bytes.data(), bytes.size()); };
  const std::string patchOfNoise =
      "defset.patches/" + Narrow(ref::PatchName(digest(noise), digest(v2.files[0].bytes)));
  const std::string patchOfText = "defset.patches/" + Narrow(ref::PatchName(digest(text), digest(v2.files[1].bytes)));
  const struct {
    const char* name;
    std::function<std::string(const std::wstring& folder)> pack;  // the manifest's extra lines
    std::vector<std::string> asked;  // "path status" after the manifest and signature
    const wchar_t* patched;
    const wchar_t* compressed;
  } rows[] = {
      {"patches from the installed files",
       [&](const std::wstring& f) { return test::PublishPackedObjects(f, v2, &v1); },
       {patchOfNoise + " 200", patchOfText + " 200"}, L"2", L"0"},
      {"patches from a set this machine never had",
       [&](const std::wstring& f) { return test::PublishPackedObjects(f, v2, &never); },
       {"defset.z/text.def 200", "noise.def 200"}, L"0", L"1"},
      // The publisher listed a patch that makes other bytes: it is fetched, decoded and
      // refused by the file's digest.
      {"a patch that makes another file",
       [&](const std::wstring& f) {
         DefinitionSet other = v2;
         other.files[0] = edited(6).files[0];
         const std::string lines = test::PublishPackedObjects(f, other, &v1);
         const std::wstring patches = f + L"\\defset.patches\\";
         EXPECT_TRUE(::MoveFileW((patches + ref::PatchName(digest(noise), digest(other.files[0].bytes))).c_str(),
                                 (patches + Wide(patchOfNoise.substr(15))).c_str()));
         return lines;
       },
       {patchOfNoise + " 200", patchOfText + " 200", "noise.def 200"}, L"1", L"0"},
      // A bomb: a small object that decodes to far more than the listed size.
      {"a compressed copy longer than its file",
       [&](const std::wstring& f) {
         std::string bomb;
         EXPECT_FALSE(ref::CompressWhole(v2.files[1].bytes + std::string(8 << 20, 'x'), bomb).Failed());
         test::PublishPackedObjects(f, {});  // the folders
         EXPECT_TRUE(test::WriteFileBytes(f + L"\\defset.z\\text.def", bomb));
         return "[Compressed]\r\n" + test::FileLine(L"text.def", bomb);
       },
       {"defset.z/text.def 200", "noise.def 200", "text.def 200"}, L"0", L"0"},
      {"a compressed copy missing",
       [&](const std::wstring& f) {
         const std::string lines = test::PublishPackedObjects(f, v2);
         ::DeleteFileW((f + L"\\defset.z\\text.def").c_str());
         return lines;
       },
       {"defset.z/text.def 404", "noise.def 200", "text.def 200"}, L"0", L"0"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    test::RemoveTree(root_ + L"\\inst");
    ASSERT_TRUE(::CreateDirectoryW((root_ + L"\\inst").c_str(), nullptr));
    const std::wstring name = Wide(std::to_string(&row - rows));
    Publish(name + L"v1", v1);
    ASSERT_OK(Update({Servers().Http(Path(name + L"v1"))}));
    const std::wstring folder = Servers().Folder(case_ + L"/" + name);
    test::PublishSigned(folder, v2, test::TestKey(), row.pack(folder));
    const std::string uri = Uri(name);
    const std::size_t start = test::AccessLog(uri).size();
    std::wstring result;
    const ResultChain chain = Update({Servers().Http(Path(name))}, &result);
    ASSERT_OK(chain);
    ExpectInstalled(v2);
    EXPECT_EQ(ResultValue(result, L"PatchedFiles"), row.patched);
    EXPECT_EQ(ResultValue(result, L"CompressedFiles"), row.compressed);
    std::vector<std::string> asked;
    for (const std::string& line : test::RequestsAfter(uri, start + 2, row.asked.size())) {
      asked.push_back(line.substr(uri.size(), line.rfind(' ') - uri.size()));
    }
    std::vector<std::string> expected = row.asked;
    std::sort(asked.begin(), asked.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(asked, expected);
  }
}

TEST_F(HttpUpdateTest, AnEndlessSourceIsCutOffAtTheListedSize) {
  // The fixture's share folder holds "endless.def", a link to /dev/zero; the fault
  // server sends an endless body. Without the bound either copy would fill the disk.
  const std::wstring share = Servers().Folder(L"endless-share");
  const DefinitionSet listed{L"9.0", L"2026-12-09", {{L"endless.def", Pattern(1000, 7)}}};
  ASSERT_TRUE(test::WriteFileBytes(share + L"\\defset.ini",
                                   "[DefinitionSet]\r\nVersion=9.0\r\n[Files]\r\n" +
                                       test::FileLine(L"endless.def", listed.files[0].bytes)));
  Publish(L"endless", listed);
  const std::vector<std::wstring> settings = {
      L"[AntiVirus]\r\nUpdateTypeKey=UpdateUnc\r\nUpdateUnc=" + share + L"\r\nDefDatFolder=" + defs_ +
          L"\r\n[ScanEngine]\r\nAllowUnsignedShare=1\r\n",
      Settings({Servers().Fault(L"endless", Path(L"endless"))}),
  };
  for (const std::wstring& text : settings) {
    std::wstring result;
    const ResultChain chain = session_.Update(text, result);
    EXPECT_EQ(chain.Last(), ref::FileSizeMismatch) << Narrow(chain.ToText());
    EXPECT_EQ(test::FolderListing(root_ + L"\\inst"), std::vector<std::wstring>{});
  }
}

}  // namespace
}  // namespace kv
