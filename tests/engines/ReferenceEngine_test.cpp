// The reference scan engine, driven through the service's own scan session.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <tuple>
#include <string>
#include <vector>

#include "config/IniDocument.h"
#include "defset/ChunkIndex.h"
#include "defset/DefinitionManifest.h"
#include "defset/EngineCodes.h"
#include "defset/SetSignature.h"
#include "foundation/ErrorCodes.h"
#include "foundation/ErrorNames.h"
#include "kernel/HandleHolder.h"
#include "scan/ScanSession.h"
#include "scan/ScannerVersionRecord.h"
#include "support/DefinitionSets.h"
#include "support/ResultAssertions.h"
#include "support/StartService.h"
#include "support/WinTestUtil.h"

namespace kv {
namespace {

namespace ref = refengine;

constexpr char kSecret[] = "Pw-7fQz2-never-written";

std::wstring EnginePath() { return test::ProgramFolder() + L"\\ScanEngine.dll"; }

using test::DefinitionSet;
using test::FileLine;
using test::Pattern;
using test::Publish;
using test::SetFile;

using test::Narrow;

std::vector<std::wstring> Listing(const std::wstring& folder) { return test::FolderListing(folder); }

// Every file below `folder`, with its full path.
void AllFiles(const std::wstring& folder, std::vector<std::wstring>& files) {
  for (const std::wstring& name : Listing(folder)) {
    const std::wstring path = folder + L"\\" + name;
    if (::GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY) {
      AllFiles(path, files);
    } else {
      files.push_back(path);
    }
  }
}

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The installed folder holds exactly the set's files, byte for byte, and its manifest
// (and its signature, when `signedSet`).
void ExpectInstalled(const std::wstring& folder, const DefinitionSet& set, bool signedSet = false) {
  std::vector<std::wstring> expected{L"defset.ini"};
  if (signedSet) expected.push_back(L"defset.sig");
  for (const SetFile& file : set.files) {
    expected.push_back(file.name);
    EXPECT_TRUE(test::ReadFileBytes(folder + L"\\" + file.name) == file.bytes) << Narrow(file.name);
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Listing(folder), expected);
}

std::wstring ResultValue(const std::wstring& result, const wchar_t* key) {
  IniDocument document(result);
  return document.GetString(key, {}, L"ScannerVersion");
}

// The file ID, which a hard link shares with the file it links.
std::uint64_t FileId(const std::wstring& path) {
  HandleHolder file(INVALID_HANDLE_VALUE);
  BY_HANDLE_FILE_INFORMATION info{};
  if (file.Attach(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr))
          .Failed() ||
      !::GetFileInformationByHandle(file.Get(), &info)) {
    return 0;
  }
  return (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
}

// Overwrites the start of the file in place, then puts its last-write time back, so
// that size, time and file ID stay what they were.
bool AlterKeepingIdentity(const std::wstring& path) {
  HandleHolder file(INVALID_HANDLE_VALUE);
  FILETIME written{};
  DWORD done = 0;
  return !file.Attach(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr))
              .Failed() &&
         ::GetFileTime(file.Get(), nullptr, nullptr, &written) && ::WriteFile(file.Get(), "XX", 2, &done, nullptr) &&
         ::SetFileTime(file.Get(), nullptr, nullptr, &written);
}

bool HasLineMarker(const ResultChain& chain) {
  return std::any_of(chain.Codes().begin(), chain.Codes().end(), [](ErrorCode c) { return IsLineMarker(c); });
}

class ReferenceEngineTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // As the service does at start-up: the engine's names join the name map, and must
    // not contradict any built-in one.
    ScanModule module;
    ASSERT_EQ(module.Load(EnginePath()), 0u);
    const ErrorNameRow* rows = nullptr;
    std::uint32_t count = 0;
    ASSERT_EQ(module.readErrorTable()(&rows, &count), 0u);
    ASSERT_OK(MergeNames(rows, count));
  }

  void SetUp() override {
    root_ = test::FreshFolder(L"refengine");
    published_ = root_ + L"\\pub";
    installRoot_ = root_ + L"\\inst";
    ASSERT_TRUE(::CreateDirectoryW(published_.c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW(installRoot_.c_str(), nullptr));
    defs_ = installRoot_ + L"\\Defs";
    ASSERT_OK(session_.Open(EnginePath()));
  }

  void TearDown() override {
    EXPECT_OK(session_.Close());
    test::RemoveTree(root_);
  }

  std::wstring Settings(const std::wstring& source, const std::wstring& type = L"UpdateUnc",
                        const std::wstring& defDat = L"") const {
    return L"[Setting]\r\nScanDll=ScanEngine.dll\r\nProxyUser=operator\r\nProxyPass=" +
           std::wstring(kSecret, kSecret + sizeof(kSecret) - 1) +
           L"\r\nIsGuiProxyAuthentication=0\r\n[AntiVirus]\r\nUpdateTypeKey=" + type + L"\r\nUpdateUnc=" + source +
           L"\r\nDefDatFolder=" + (defDat.empty() ? defs_ : defDat) +
           // The way of closed networks that cannot sign: most cases here are about how a
           // set is copied and swapped, and the signature cases add a key.
           L"\r\n[ScanEngine]\r\nAllowUnsignedShare=1\r\n";
  }

  ResultChain Update(const std::wstring& settings, std::wstring* result = nullptr) {
    std::wstring text;
    const ResultChain chain = session_.Update(settings, text);
    EXPECT_NE(text.find(L"[ScannerVersion]"), std::wstring::npos) << "every update leaves a result text";
    EXPECT_OK(session_.CheckInitialized());
    if (result != nullptr) *result = text;
    return chain;
  }

  std::wstring PublishAs(const wchar_t* name, const DefinitionSet& set, const std::string& extra = {}) {
    const std::wstring folder = published_ + L"\\" + name;
    Publish(folder, set, extra);
    return folder;
  }

  // Nothing beside the definition folder and the record of its highest version: no
  // staging, backup or lock left behind, and nothing a manifest could have written
  // outside it.
  // A machine that never had a set: no definitions and no record of the highest version.
  void RemoveInstalled() const {
    test::RemoveTree(defs_);
    ::DeleteFileW((defs_ + L".highest").c_str());
  }

  // After a failed fetch, what it wrote may wait in "Defs.partial" for the next update.
  void ExpectOnlyDefinitionFolder(bool afterFailedFetch = false) const {
    std::vector<std::wstring> listing = Listing(installRoot_);
    if (afterFailedFetch) std::erase(listing, L"Defs.partial");
    EXPECT_EQ(listing, (std::vector<std::wstring>{L"Defs", L"Defs.highest", L"Defs.identities"}));
  }

  const DefinitionSet v1_{L"1.0", L"2026-12-01",
                          {{L"alpha.def", Pattern(3000, 1)},
                           {L"beta.dat", Pattern(10, 2)},
                           {L"empty.bin", ""},
                           {L"with space..v1.def", Pattern(70000, 3)}}};
  const DefinitionSet v2_{L"2.0", L"2026-12-08", {{L"alpha.def", Pattern(3100, 4)}, {L"gamma.def", Pattern(5000, 5)}}};

  std::wstring root_, published_, installRoot_, defs_;
  ScanSession session_;
};

TEST_F(ReferenceEngineTest, InstallsASetAndThenReportsItCurrent) {
  const std::wstring source = PublishAs(L"v1", v1_);
  std::wstring result;
  const ResultChain first = Update(Settings(source), &result);
  EXPECT_OK(first);
  ExpectInstalled(defs_, v1_);
  ExpectOnlyDefinitionFolder();
  EXPECT_EQ(ResultValue(result, L"DefinitionVersion"), L"1.0");
  EXPECT_EQ(ResultValue(result, L"DefinitionDate"), L"2026-12-01");
  EXPECT_EQ(ResultValue(result, L"DefinitionFiles"), L"4");
  EXPECT_EQ(ResultValue(result, L"Source"), source);
  EXPECT_FALSE(ResultValue(result, L"EngineVersion").empty());

  const ResultChain second = Update(Settings(source), &result);
  EXPECT_EQ(second.Last(), err::AlreadyLastestDefinition) << Narrow(second.ToText());
  EXPECT_EQ(ResultValue(result, L"DefinitionVersion"), L"1.0");
  ExpectInstalled(defs_, v1_);
}

TEST_F(ReferenceEngineTest, ANewerSetReplacesTheWholePreviousOne) {
  ASSERT_OK(Update(Settings(PublishAs(L"v1", v1_))));
  std::wstring result;
  const ResultChain chain = Update(Settings(PublishAs(L"v2", v2_)), &result);
  EXPECT_OK(chain);
  ExpectInstalled(defs_, v2_);  // files of v1 that v2 lacks are gone too
  ExpectOnlyDefinitionFolder();
  EXPECT_EQ(ResultValue(result, L"DefinitionVersion"), L"2.0");
}

TEST_F(ReferenceEngineTest, AFaultySourceLeavesThePreviousSetCompleteAndNamesTheFault) {
  ASSERT_OK(Update(Settings(PublishAs(L"v1", v1_))));

  const std::string truncated = v2_.files[1].bytes.substr(0, 4000);
  std::string flipped = v2_.files[0].bytes;
  flipped[1234] = static_cast<char>(flipped[1234] ^ 0x01);
  struct Case {
    const wchar_t* name;
    std::function<void(const std::wstring& folder)> spoil;
    ErrorCode cause;  // the root cause, read first
    ErrorCode step;   // where the update stopped
  };
  // A manifest listing alpha.def and then `section`.
  const auto withObject = [&](const std::string& section) {
    return [section, this](const std::wstring& f) {
      test::WriteFileBytes(f + L"\\defset.ini", "[DefinitionSet]\r\nVersion=2.0\r\n[Files]\r\n" +
                                                 FileLine(L"alpha.def", v2_.files[0].bytes) + section);
    };
  };
  const std::vector<Case> cases = {
      {L"missing_file", [](const std::wstring& f) { ::DeleteFileW((f + L"\\gamma.def").c_str()); },
       err::UncFileNotFound, err::UpdateUncFolder},
      {L"flipped_bit", [&](const std::wstring& f) { test::WriteFileBytes(f + L"\\alpha.def", flipped); },
       err::ErrorUncHashCompare, ref::StepVerifyStagedSet},
      {L"truncated", [&](const std::wstring& f) { test::WriteFileBytes(f + L"\\gamma.def", truncated); },
       ref::FileSizeMismatch, err::UpdateUncFolder},
      {L"grown", [&](const std::wstring& f) { test::WriteFileBytes(f + L"\\gamma.def", v2_.files[1].bytes + "more"); },
       ref::FileSizeMismatch, err::UpdateUncFolder},
      {L"no_manifest", [](const std::wstring& f) { ::DeleteFileW((f + L"\\defset.ini").c_str()); },
       err::UncIniNotFound, err::UpdateUncIni},
      {L"bad_entry",
       [](const std::wstring& f) {
         test::WriteFileBytes(f + L"\\defset.ini",
                              "[DefinitionSet]\r\nVersion=2.0\r\n[Files]\r\nalpha.def=3100,zz\r\n");
       },
       ref::ManifestBadEntry, err::UpdateUncIni},
      // An expiry is a real UTC moment in exactly one form, or the set is refused.
      {L"impossible_expiry",
       [&](const std::wstring& f) {
         test::WriteFileBytes(f + L"\\defset.ini", "[DefinitionSet]\r\nVersion=2.0\r\nExpires=2026-02-29T00:00:00Z\r\n[Files]\r\n" +
                                                    FileLine(L"alpha.def", v2_.files[0].bytes));
       },
       ref::ManifestBadEntry, err::UpdateUncIni},
      {L"local_time_expiry",
       [&](const std::wstring& f) {
         test::WriteFileBytes(f + L"\\defset.ini", "[DefinitionSet]\r\nVersion=2.0\r\nExpires=2026-12-15 06:00:00\r\n[Files]\r\n" +
                                                    FileLine(L"alpha.def", v2_.files[0].bytes));
       },
       ref::ManifestBadEntry, err::UpdateUncIni},
      {L"no_version",
       [&](const std::wstring& f) {
         test::WriteFileBytes(f + L"\\defset.ini", "[Files]\r\n" + FileLine(L"alpha.def", v2_.files[0].bytes));
       },
       ref::ManifestNoVersion, err::UpdateUncIni},
      {L"no_files",
       [](const std::wstring& f) { test::WriteFileBytes(f + L"\\defset.ini", "[DefinitionSet]\r\nVersion=2.0\r\n"); },
       ref::ManifestNoFiles, err::UpdateUncIni},
      {L"no_source_folder", [](const std::wstring& f) { test::RemoveTree(f); }, ref::UncFolderNotFound,
       err::UpdateUncIni},
      // A patch names the file it starts from; a compressed copy a listed file.
      {L"patch_without_source", withObject("[Patches]\r\n" + FileLine(L"alpha.def", "patch")), ref::ManifestBadEntry,
       err::UpdateUncIni},
      {L"copy_of_an_unlisted_file", withObject("[Compressed]\r\n" + FileLine(L"other.def", "copy")),
       ref::ManifestBadEntry, err::UpdateUncIni},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.name));
    const std::wstring source = PublishAs(c.name, v2_);
    c.spoil(source);
    std::wstring result;
    const ResultChain chain = Update(Settings(source), &result);
    EXPECT_EQ(chain.Last(), c.cause) << Narrow(chain.ToText());
    EXPECT_TRUE(chain.Contains(c.step)) << Narrow(chain.ToText());
    EXPECT_TRUE(HasLineMarker(chain));
    for (ErrorCode code : chain.Codes()) {
      if (IsFamilyCode(code)) {
        EXPECT_NE(CodeName(code), L"InvalidEnumValue") << std::hex << code;
      }
    }
    EXPECT_EQ(ResultValue(result, L"DefinitionVersion"), L"1.0") << "the result names the set still in place";
    ExpectInstalled(defs_, v1_);
    ExpectOnlyDefinitionFolder(true);
  }
}

// Sections an engine does not know are passed over, so an engine from before the
// compressed copies and patches reads such a manifest's files as this one does.
TEST(DefinitionManifestSections, ObjectsBesideTheFilesLeaveTheFilesAsAnEngineWithoutThemReadsThem) {
  const std::string files = "[DefinitionSet]\r\nVersion=2.0\r\n[Files]\r\n" + FileLine(L"a.def", "alpha") +
                            FileLine(L"b,c.def", "beta");
  const std::string objects = "[Compressed]\r\n" + FileLine(L"a.def", "zstd") + "[Patches]\r\n" +
                              FileLine(L"b,c.def," + ref::DigestHex(Sha256::Of("old", 3)), "patch") + "[LaterFormat]\r\nb,c.def=what,ever\r\n";
  ref::DefinitionManifest plain, packed;
  ASSERT_FALSE(ref::ParseManifest(files, plain).Failed());
  const ResultChain parsed = ref::ParseManifest(files + objects, packed);
  ASSERT_FALSE(parsed.Failed()) << Narrow(parsed.ToText());
  ASSERT_EQ(packed.files.size(), plain.files.size());
  for (std::size_t i = 0; i < plain.files.size(); ++i) {
    EXPECT_EQ(packed.files[i].name, plain.files[i].name);
    EXPECT_EQ(packed.files[i].size, plain.files[i].size);
    EXPECT_TRUE(packed.files[i].digest == plain.files[i].digest);
  }
  EXPECT_EQ(packed.files[0].compressed.size, 4u);
  ASSERT_EQ(packed.files[1].patches.size(), 1u) << "a name with a comma keeps it";
  EXPECT_TRUE(packed.files[1].patches[0].source == Sha256::Of("old", 3));
}

TEST(DefinitionVersionOrder, PartsCompareAsNumbersWhenBothAreDigitsElseOrdinallyWithoutCase) {
  const std::vector<std::tuple<const wchar_t*, int, const wchar_t*>> rows = {
      {L"2026.12.9", -1, L"2026.12.10"}, {L"2026.12.08", -1, L"2026.12.08.1"}, {L"1.0", -1, L"1.0-rc"},
      {L"00099", -1, L"100"},            {L"1.0-RC1", -1, L"1.0-rc2"},         {L"1.2.x", -1, L"1.10"},
      {L"1.10a", -1, L"1.9b"},           {L"2026.99999999999999999999", -1, L"2027"},
      {L"2026.12.08", 0, L"2026.12.8"},  {L"1.0-RC", 0, L"1-0-rc"}};
  for (const auto& [a, order, b] : rows) {
    SCOPED_TRACE(Narrow(a) + " vs " + Narrow(b));
    EXPECT_EQ(std::clamp(ref::CompareVersions(a, b), -1, 1), order);
    EXPECT_EQ(std::clamp(ref::CompareVersions(b, a), -1, 1), -order);
  }
}

TEST_F(ReferenceEngineTest, NoUpdateGoesBelowTheHighestVersionInstalledWhateverHappensToTheFolder) {
  const std::wstring record = defs_ + L".highest";
  const std::wstring v1 = PublishAs(L"v1", v1_), v2 = PublishAs(L"v2", v2_);
  const ErrorCode older = ref::OlderDefinitionVersion;
  const std::vector<std::tuple<const char*, std::function<void()>, const std::wstring*, ErrorCode>> cases = {
      {"kept", [] {}, &v1, older},
      {"defs_removed", [&] { test::RemoveTree(defs_); }, &v1, older},
      {"defs_damaged", [&] { ::DeleteFileW((defs_ + L"\\defset.ini").c_str()); }, &v1, older},
      // The installed manifest still tells how far the machine came; the record is
      // written again from it (checked by the next case).
      {"record_damaged", [&] { test::WriteFileBytes(record, "\x01garbage"); }, &v1, older},
      {"record_removed", [&] { ::DeleteFileW(record.c_str()); }, &v1, older},
      {"same_again", [&] { test::RemoveTree(defs_); }, &v2, 0},
      // A record kept from an older engine, restored from a backup or written by hand:
      // the installed set still counts, and the record is raised to it.
      {"record_behind", [&] { test::WriteFileBytes(record, "[HighestVersion]\nVersion=1.0\n"); }, &v1, older},
      // Nothing tells it: refused until an administrator removes the record.
      {"both_lost", [&] { test::RemoveTree(defs_); test::WriteFileBytes(record, "[HighestVersion]"); }, &v1,
       ref::HighestVersionDamaged},
  };
  for (const auto& [name, harm, source, outcome] : cases) {
    SCOPED_TRACE(name);
    const ResultChain ready = Update(Settings(v2));
    ASSERT_TRUE(ready.Succeeded() || ready.Last() == err::AlreadyLastestDefinition) << Narrow(ready.ToText());
    EXPECT_NE(test::ReadFileBytes(record).find("Version=2.0\n"), std::string::npos);
    harm();
    const ResultChain chain = Update(Settings(*source));
    EXPECT_EQ(chain.Last(), outcome) << Narrow(chain.ToText());
    EXPECT_EQ(test::ReadFileBytes(defs_ + L"\\defset.ini").find("Version=1.0"), std::string::npos);
    if (outcome == older) {
      EXPECT_NE(test::ReadFileBytes(record).find("Version=2.0\n"), std::string::npos) << test::ReadFileBytes(record);
    }
  }
  // A record ahead of the installed set is kept, never lowered to it.
  ASSERT_TRUE(::DeleteFileW(record.c_str()));
  ASSERT_OK(Update(Settings(v2)));
  ASSERT_TRUE(test::WriteFileBytes(record, "[HighestVersion]\nVersion=3.0\n"));
  EXPECT_EQ(Update(Settings(v1)).Last(), older);
  EXPECT_NE(test::ReadFileBytes(record).find("Version=3.0\n"), std::string::npos) << test::ReadFileBytes(record);

  ASSERT_TRUE(::DeleteFileW(record.c_str()));
  test::RemoveTree(defs_);
  EXPECT_OK(Update(Settings(v1))) << "the administrator's way back";
}

TEST_F(ReferenceEngineTest, AManifestCannotNameAFileOutsideTheDestination) {
  // Files a naive engine would find and copy if it followed the names.
  const std::string evil = "written outside";
  ASSERT_TRUE(test::WriteFileBytes(published_ + L"\\evil.def", evil));
  const std::vector<std::wstring> names = {L"..\\evil.def", L"sub\\evil.def", L"sub/evil.def", L"C:evil.def",
                                           L"alpha.def:hidden", L"..", L".", L"CON", L"nul.txt", L"lpt1",
                                           L" alpha.def", L"alpha.def.", L"alpha.def ", L"DEFSET.INI",
                                           L"a*b", L"a?b", L"a|b", L"a<b", L"a>b", L"a\"b",
                                           L"COM\x00B9.def", L"lpt\x00B3", L"CON .txt"};
  int n = 0;
  for (const std::wstring& name : names) {
    SCOPED_TRACE(Narrow(name));
    const std::wstring folder = L"unsafe" + std::to_wstring(++n);
    const std::wstring source = PublishAs(folder.c_str(), v2_, FileLine(name, evil));
    const ResultChain chain = Update(Settings(source));
    EXPECT_EQ(chain.Last(), ref::ManifestUnsafeName) << Narrow(chain.ToText());
    EXPECT_TRUE(chain.Contains(err::UncIniInvalidFormat));
    EXPECT_FALSE(Exists(defs_)) << "nothing was installed";
    EXPECT_EQ(Listing(installRoot_), std::vector<std::wstring>{});
    EXPECT_FALSE(Exists(root_ + L"\\evil.def"));
  }
}

TEST_F(ReferenceEngineTest, SettingsItCannotServeFailWithoutTouchingTheInstalledSet) {
  const std::wstring source = PublishAs(L"v1", v1_);
  ASSERT_OK(Update(Settings(source)));
  const std::wstring v2 = PublishAs(L"v2", v2_);
  struct Case {
    std::wstring settings;
    ErrorCode cause;
  };
  const std::vector<Case> cases = {
      {Settings(v2, L"UpdateHttp"), ref::UpdateUrlNotSet},
      {Settings(v2, L"UpdateHttp") + L"[ScanEngine]\r\nUpdateUrl=ftp://files01/kvdefs/\r\n", ref::UpdateUrlInvalid},
      {Settings(v2, L"UpdateHttp") + L"[ScanEngine]\r\nUpdateUrl=https://user:pw@files01/kvdefs/\r\n",
       ref::UpdateUrlInvalid},
      // A web server's set cannot be trusted without a key to check it.
      {Settings(v2, L"UpdateHttp") + L"[ScanEngine]\r\nUpdateUrl=https://files01/kvdefs/\r\n", ref::PublicKeyNotSet},
      {Settings(v2) + L"[ScanEngine]\r\nPublicKey=bm90IGEga2V5\r\n", ref::PublicKeyInvalid},
      // Nor a share's, unless the built-in configuration allows unsigned sets there.
      {Settings(v2) + L"[ScanEngine]\r\nAllowUnsignedShare=0\r\n", ref::PublicKeyNotSet},
      {Settings(v2) + L"[ScanEngine]\r\nAllowUnsignedShare=yes\r\n", ref::PublicKeyNotSet},
      {Settings(v2, L""), err::NotSupportUpdateProtocol},
      {Settings(v2, L"UpdateFtp"), err::NotSupportUpdateProtocol},
      {Settings(L""), ref::UpdateUncNotSet},
      {L"[AntiVirus]\r\nUpdateTypeKey=UpdateUnc\r\nUpdateUnc=" + v2 + L"\r\n[ScanEngine]\r\nAllowUnsignedShare=1\r\n",
       ref::DefDatFolderNotSet},
      {Settings(v2, L"UpdateUnc", L"C:\\"), ref::InvalidDefDatFolder},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.settings));
    const ResultChain chain = Update(c.settings);
    EXPECT_EQ(chain.Last(), c.cause) << Narrow(chain.ToText());
    ExpectInstalled(defs_, v1_);
    ExpectOnlyDefinitionFolder();
  }
}

TEST_F(ReferenceEngineTest, TheProxyPasswordReachesNoResultTextAndNoFile) {
  const std::wstring v1 = PublishAs(L"v1", v1_);
  const std::wstring v2 = PublishAs(L"v2", v2_);
  ::DeleteFileW((v2 + L"\\gamma.def").c_str());
  const std::wstring secret(kSecret, kSecret + sizeof(kSecret) - 1);
  for (const std::wstring& settings : {Settings(v1), Settings(v1), Settings(v2), Settings(v1, L"UpdateHttp")}) {
    std::wstring result;
    (void)Update(settings, &result);  // repeats are refused as current: only the text counts
    EXPECT_EQ(result.find(secret), std::wstring::npos) << Narrow(result);
  }
  std::wstring initResult;
  ASSERT_OK(session_.Initialize(Settings(v1), initResult));
  EXPECT_EQ(initResult.find(secret), std::wstring::npos);

  // What the service makes of a current set's result: the log record and the version file.
  std::wstring result;
  ASSERT_EQ(Update(Settings(v1), &result).Last(), err::AlreadyLastestDefinition);
  IniDocument resultDocument(result);
  IniDocument settingsDocument(Settings(v1));
  EXPECT_EQ(UpdateLogRecordText(resultDocument, err::AlreadyLastestDefinition, 1, 0).find(secret), std::wstring::npos);
  ASSERT_OK(WriteScannerVersionFile(settingsDocument, resultDocument));
  const std::string versionFile = test::ReadFileBytes(installRoot_ + L"\\ScannerVersion.ini");
  EXPECT_NE(versionFile.find("DefinitionVersion=1.0\r\n"), std::string::npos) << versionFile;
  EXPECT_NE(versionFile.find("DefinitionPath=Defs\r\n"), std::string::npos) << versionFile;

  std::vector<std::wstring> files;
  AllFiles(root_, files);
  ASSERT_FALSE(files.empty());
  const std::string wide(reinterpret_cast<const char*>(secret.data()), secret.size() * sizeof(wchar_t));
  for (const std::wstring& file : files) {
    const std::string bytes = test::ReadFileBytes(file);
    EXPECT_EQ(bytes.find(kSecret), std::string::npos) << Narrow(file);
    EXPECT_EQ(bytes.find(wide), std::string::npos) << Narrow(file);
  }
}

TEST_F(ReferenceEngineTest, LeftoversOfAnInterruptedUpdateAreRepairedOnTheNextRun) {
  const std::wstring v1 = PublishAs(L"v1", v1_);
  const std::wstring v2 = PublishAs(L"v2", v2_);
  struct Case {
    const wchar_t* name;
    std::function<void()> interrupt;
    std::wstring source;
    ErrorCode outcome;
    const DefinitionSet* installed;
  };
  const std::wstring staging = defs_ + L".staging";
  const std::wstring backup = defs_ + L".backup";
  auto partialStaging = [staging] {
    ::CreateDirectoryW(staging.c_str(), nullptr);
    ::CreateDirectoryW((staging + L"\\nested").c_str(), nullptr);
    test::WriteFileBytes(staging + L"\\alpha.def", "half");
    test::WriteFileBytes(staging + L"\\nested\\x", "x");
  };
  const std::vector<Case> cases = {
      // Killed between the two renames: only the backup holds the set.
      {L"swap_half_done", [&] { ::MoveFileW(defs_.c_str(), backup.c_str()); partialStaging(); }, v1,
       err::AlreadyLastestDefinition, &v1_},
      // Killed before the backup was deleted.
      {L"backup_left",
       [&] {
         ::CreateDirectoryW(backup.c_str(), nullptr);
         test::WriteFileBytes(backup + L"\\old", "o");
       },
       v1, err::AlreadyLastestDefinition, &v1_},
      // Killed while copying.
      {L"copy_stopped", partialStaging, v2, 0, &v2_},
      // Killed while copying a held backup back in.
      {L"copy_back_stopped",
       [&] {
         ::MoveFileW(defs_.c_str(), backup.c_str());
         ::CreateDirectoryW(defs_.c_str(), nullptr);
         test::WriteFileBytes(defs_ + L"\\alpha.def", "half");
       },
       v1, err::AlreadyLastestDefinition, &v1_},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.name));
    RemoveInstalled();
    const ResultChain first = Update(Settings(v1));
    ASSERT_OK(first);
    c.interrupt();
    const ResultChain chain = Update(Settings(c.source));
    EXPECT_EQ(chain.Last(), c.outcome) << Narrow(chain.ToText());
    ExpectInstalled(defs_, *c.installed);
    ExpectOnlyDefinitionFolder();
  }
}

// Windows refuses to rename a folder while a file inside is held open without delete
// sharing (Wine renames it regardless), so the engine's test build fails chosen rename
// attempts. Attempts count from 1: with v1 installed, Defs -> backup, staging -> Defs,
// then the restore; with only the backup left, the recovery's first.
TEST_F(ReferenceEngineTest, FoldersHeldOpenDuringTheSwapNeverLoseTheInstalledSet) {
  const std::wstring v1 = PublishAs(L"v1", v1_), v2 = PublishAs(L"v2", v2_);
  const std::wstring library = test::ProgramFolder() + L"\\ScanEngineRenameFaults.dll";
  ASSERT_OK(session_.Close());
  ASSERT_OK(session_.Open(library));
  const FARPROC failing = ::GetProcAddress(::GetModuleHandleW(library.c_str()), "FailFolderRenames");
  const FARPROC counting = ::GetProcAddress(::GetModuleHandleW(library.c_str()), "CountFolderRenames");
  ASSERT_TRUE(failing != nullptr && counting != nullptr);
  const auto fail = reinterpret_cast<void(WINAPI*)(unsigned, unsigned, DWORD)>(reinterpret_cast<void*>(failing));
  const auto count = reinterpret_cast<void(WINAPI*)(unsigned*, DWORD*)>(reinterpret_cast<void*>(counting));
  const DWORD k5 = ERROR_ACCESS_DENIED, k32 = ERROR_SHARING_VIOLATION;
  const struct {
    const char* name;
    bool onlyBackup;  // an earlier swap stopped half-way
    unsigned first, failing;
    DWORD code;
    ErrorCode named;  // in the chain with ErrorSwapFilename and the code; 0: success
    const DefinitionSet* defs;
    unsigned attempts;
    DWORD pausedMs;
  } cases[] = {
      {"defs held a moment", false, 1, 2, k32, 0, &v2_, 4, 300},
      {"defs held throughout", false, 1, 9, k5, ref::DefinitionsInUse, &v1_, 9, 10000},
      {"staging held a moment", false, 2, 3, k32, 0, &v2_, 5, 700},
      {"staging held throughout", false, 2, 9, k32, ref::DefinitionsInUse, &v1_, 11, 10000},
      {"restore held a moment", false, 2, 11, k5, ref::DefinitionsInUse, &v1_, 13, 10300},
      {"staging and backup held throughout: copied back", false, 2, 18, k5, ref::DefinitionsInUse, &v1_, 19, 20000},
      {"other failures are not retried", false, 2, 1, ERROR_WRITE_PROTECT, err::ErrorSwapFilename, &v1_, 3, 0},
      {"backup held a moment at recovery", true, 1, 1, k32, 0, &v2_, 4, 100},
      {"backup held throughout at recovery: copied back", true, 1, 9, k32, 0, &v2_, 11, 10000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RemoveInstalled();
    fail(0, 0, 0);
    ASSERT_OK(Update(Settings(v1)));
    if (c.onlyBackup) {
      ASSERT_TRUE(::MoveFileW(defs_.c_str(), (defs_ + L".backup").c_str()));
    }
    fail(c.first, c.failing, c.code);
    const ResultChain chain = Update(Settings(v2));
    EXPECT_EQ(chain.Failed(), c.named != 0) << Narrow(chain.ToText());
    if (c.named != 0) {
      EXPECT_TRUE(chain.Contains(err::ErrorSwapFilename) && chain.Contains(c.named) && chain.Contains(c.code));
    }
    unsigned attempts = 0;
    DWORD pausedMs = 0;
    count(&attempts, &pausedMs);
    EXPECT_EQ(attempts, c.attempts);
    EXPECT_EQ(pausedMs, c.pausedMs);
    ExpectInstalled(defs_, *c.defs);
    ExpectOnlyDefinitionFolder(c.named != 0);

    fail(0, 0, 0);
    const ResultChain next = Update(Settings(v2));
    EXPECT_TRUE(next.Succeeded() || next.Last() == err::AlreadyLastestDefinition) << Narrow(next.ToText());
    ExpectInstalled(defs_, v2_);
    ExpectOnlyDefinitionFolder();
  }
}

TEST_F(ReferenceEngineTest, ADamagedInstalledSetIsInstalledAgain) {
  const std::wstring v1 = PublishAs(L"v1", v1_);
  const std::vector<std::function<void()>> damages = {
      [&] { ::DeleteFileW((defs_ + L"\\beta.dat").c_str()); },
      [&] { test::WriteFileBytes(defs_ + L"\\alpha.def", Pattern(3000, 9)); },
      [&] { ::DeleteFileW((defs_ + L"\\defset.ini").c_str()); },
  };
  ASSERT_OK(Update(Settings(v1)));
  for (std::size_t i = 0; i < damages.size(); ++i) {
    SCOPED_TRACE(i);
    damages[i]();
    const ResultChain chain = Update(Settings(v1));
    EXPECT_OK(chain);
    ExpectInstalled(defs_, v1_);
  }
}

TEST_F(ReferenceEngineTest, ASecondUpdaterOnTheSameFolderIsTurnedAway) {
  const std::wstring v1 = PublishAs(L"v1", v1_);
  HandleHolder held(INVALID_HANDLE_VALUE);
  ASSERT_EQ(held.Attach(::CreateFileW((defs_ + L".lock").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_FLAG_DELETE_ON_CLOSE, nullptr))
                .Count(),
            0u);
  const ResultChain busy = Update(Settings(v1));
  EXPECT_EQ(busy.Last(), err::BusyUncUpdating) << Narrow(busy.ToText());
  EXPECT_FALSE(Exists(defs_));

  ASSERT_OK(held.Close());
  EXPECT_OK(Update(Settings(v1)));
  ExpectInstalled(defs_, v1_);
}

TEST_F(ReferenceEngineTest, NamesItsSettingsSectionAndKeepsTheSettingsOfInitialize) {
  std::wstring iniText;
  ASSERT_OK(session_.ReadIniText(iniText));
  IniDocument ini(iniText);
  EXPECT_EQ(ini.GetString(L"IniKey", {}, L"Setting"), L"ScanEngine");
  EXPECT_EQ(ini.GetString(L"CopyDelayMs", {}, L"ScanEngine"), L"0");

  EXPECT_OK(session_.CheckInitialized()) << "initialised from creation on";
  const std::wstring v1 = PublishAs(L"v1", v1_);
  std::wstring result;
  ASSERT_OK(session_.Initialize(Settings(v1), result));
  EXPECT_FALSE(ResultValue(result, L"EngineVersion").empty());
  // An update handed no settings works with those of the initialisation.
  EXPECT_OK(Update(L""));
  ExpectInstalled(defs_, v1_);
}

TEST_F(ReferenceEngineTest, ARelativeDefinitionFolderLiesInTheProgramsFolderWhereverTheEngineLies) {
  // The engine loaded from a folder of its own, as "ScanDll" may name one.
  const std::wstring engineFolder = root_ + L"\\engine";
  ASSERT_TRUE(::CreateDirectoryW(engineFolder.c_str(), nullptr));
  ASSERT_TRUE(::CopyFileW(EnginePath().c_str(), (engineFolder + L"\\ScanEngine.dll").c_str(), FALSE));
  ScanSession elsewhere;
  ASSERT_OK(elsewhere.Open(engineFolder + L"\\ScanEngine.dll"));
  const std::wstring parent = test::ProgramFolder() + L"\\kvtest_refengine_relative";
  test::RemoveTree(parent);
  ASSERT_TRUE(::CreateDirectoryW(parent.c_str(), nullptr));
  std::wstring result;
  const ResultChain chain =
      elsewhere.Update(Settings(PublishAs(L"v1", v1_), L"UpdateUnc", L"kvtest_refengine_relative\\Defs"), result);
  EXPECT_OK(chain);
  ExpectInstalled(parent + L"\\Defs", v1_);
  EXPECT_FALSE(Exists(engineFolder + L"\\kvtest_refengine_relative"));
  EXPECT_OK(elsewhere.Close());
  test::RemoveTree(parent);
}

TEST_F(ReferenceEngineTest, AChangedFileIsTheOnlyOneCopiedAndADamagedOneIsCopiedAgain) {
  ASSERT_OK(Update(Settings(PublishAs(L"v1", v1_))));
  std::vector<std::uint64_t> ids;
  for (const SetFile& file : v1_.files) ids.push_back(FileId(defs_ + L"\\" + file.name));
  DefinitionSet next = v1_;
  next.version = L"1.1";
  next.files[0].bytes = Pattern(3000, 8);
  std::wstring result;
  ASSERT_OK(Update(Settings(PublishAs(L"v11", next)), &result));
  ExpectInstalled(defs_, next);
  EXPECT_EQ(ResultValue(result, L"FetchedFiles"), L"1");
  EXPECT_EQ(ResultValue(result, L"FetchedBytes"), L"3000");
  EXPECT_EQ(ResultValue(result, L"ReusedFiles"), L"3");
  // The unchanged files are the installed files themselves, linked; the changed one is new.
  EXPECT_EQ(ResultValue(result, L"LinkedFiles"), L"3");
  for (std::size_t i = 0; i < v1_.files.size(); ++i) {
    EXPECT_EQ(FileId(defs_ + L"\\" + v1_.files[i].name) == ids[i], i != 0) << Narrow(v1_.files[i].name);
  }

  // A file that cannot be linked safely (here: read-only) is copied.
  const std::wstring beta = defs_ + L"\\beta.dat";
  ASSERT_TRUE(::SetFileAttributesW(beta.c_str(), FILE_ATTRIBUTE_READONLY));
  const std::uint64_t betaId = FileId(beta);
  DefinitionSet copied = next;
  copied.version = L"1.1.1";
  ASSERT_OK(Update(Settings(PublishAs(L"v111", copied)), &result));
  ExpectInstalled(defs_, copied);
  EXPECT_EQ(ResultValue(result, L"ReusedFiles"), L"4");
  EXPECT_EQ(ResultValue(result, L"LinkedFiles"), L"3");
  EXPECT_NE(FileId(beta), betaId);

  // An installed file that no longer matches is taken from the source, not reused.
  ASSERT_TRUE(test::WriteFileBytes(defs_ + L"\\with space..v1.def", Pattern(70000, 9)));
  DefinitionSet again = v1_;
  again.version = L"1.2";
  ASSERT_OK(Update(Settings(PublishAs(L"v1b", again)), &result));
  ExpectInstalled(defs_, again);
  EXPECT_EQ(ResultValue(result, L"FetchedFiles"), L"2");
  EXPECT_EQ(ResultValue(result, L"ReusedFiles"), L"2");
  EXPECT_EQ(ResultValue(result, L"LinkedFiles"), L"2");
}

// The cut points are part of the published format, so they are computed here from the
// documented rule alone: a cutter one byte off would agree with its own indexes and
// with nobody else's.
TEST_F(ReferenceEngineTest, ChunksAreCutWhereTheDocumentedRuleSays) {
  std::uint64_t gear[256];
  std::uint64_t state = 0;
  for (std::uint64_t& g : gear) {
    state += 0x9E3779B97F4A7C15ull;
    std::uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    g = z ^ (z >> 31);
  }
  const auto topBitsClear = [](std::uint64_t h) { return (h >> (64 - 14)) == 0; };
  const auto documentedEnds = [&](const std::string& bytes) {
    std::vector<std::uint64_t> ends;
    std::uint64_t h = 0, length = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      h = (h << 1) + gear[static_cast<unsigned char>(bytes[i])];
      if ((++length >= 8192 && topBitsClear(h)) || length == 65536) {
        ends.push_back(i + 1);
        h = length = 0;
      }
    }
    if (length != 0) ends.push_back(bytes.size());
    return ends;
  };
  // Each bit of the hash depends on the last 64 bytes only: a window whose own hash has
  // the top bits clear makes a cut wherever it ends past the minimum.
  std::string window;
  for (unsigned seed = 1; window.empty(); ++seed) {
    const std::string candidate = test::Noise(64, seed);
    std::uint64_t h = 0;
    for (unsigned char b : candidate) h = (h << 1) + gear[b];
    if (topBitsClear(h)) window = candidate;
  }
  const std::string tail = test::Noise(200000, 7);
  const struct {
    const char* name;
    std::string bytes;
    std::uint64_t firstEnd;  // 0: anywhere but 8191
  } rows[] = {
      {"window_ends_at_the_minimum", test::Noise(8192 - 64, 5) + window + tail, 8192},
      {"window_ends_one_short", test::Noise(8191 - 64, 5) + window + tail, 0},
      {"constant_bytes", std::string(300000, 'k'), 65536},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::vector<std::uint64_t> expected = documentedEnds(row.bytes);
    ASSERT_FALSE(expected.empty());
    if (row.firstEnd != 0) {
      ASSERT_EQ(expected.front(), row.firstEnd) << "the row is built for this cut";
    } else {
      ASSERT_NE(expected.front(), 8191u);
    }
    std::vector<std::uint64_t> ends;
    for (const ref::Chunk& chunk : ref::CutChunks(row.bytes)) ends.push_back(chunk.offset + chunk.length);
    EXPECT_EQ(ends, expected);
  }
}

// A changed file costs the chunks an edit touched; an index that is missing, changed
// after signing or not the file's own costs only that saving: the file comes whole.
TEST_F(ReferenceEngineTest, ChunkIndexesFetchOnlyTheChunksAnEditTouched) {
  const std::string base = test::Noise(1 << 20, 1);
  std::string overwritten = base;
  overwritten.replace(300000, 65536, test::Noise(65536, 2));
  std::string inserted = base;
  inserted.insert(500000, test::Noise(100 * 1024, 3));
  const std::vector<ref::Chunk> before = ref::CutChunks(base);
  for (const auto& [edited, at, end] : {std::tuple{&overwritten, 300000u, 300000u + 65536u},
                                        std::tuple{&inserted, 500000u, 500000u}}) {
    const std::vector<ref::Chunk> after = ref::CutChunks(*edited);
    for (const ref::Chunk& chunk : before) {
      const auto same = [&](const ref::Chunk& c) { return c.digest == chunk.digest && c.length == chunk.length; };
      if (chunk.offset + chunk.length <= at) {
        EXPECT_NE(std::find(after.begin(), after.end(), chunk), after.end()) << "moved before the edit";
      } else if (chunk.offset >= end + ref::kMaxChunk) {
        EXPECT_NE(std::find_if(after.begin(), after.end(), same), after.end()) << "lost after the edit";
      }
    }
  }
  const std::string index = ref::ChunkIndexBytes(before, base.size());
  const auto otherIndex = [&](const std::wstring& folder) {
    // Signed with its digest, but of the old content: assembled, it fails its digest.
    const std::string manifest = test::ReadFileBytes(folder + L"\\defset.ini");
    const std::string own = test::ReadFileBytes(folder + L"\\defset.chunks\\big.def");
    std::string changed = manifest;
    changed.replace(changed.find(FileLine(L"big.def", own)), FileLine(L"big.def", own).size(),
                    FileLine(L"big.def", index));
    ASSERT_TRUE(test::WriteFileBytes(folder + L"\\defset.chunks\\big.def", index));
    ASSERT_TRUE(test::WriteFileBytes(folder + L"\\defset.ini", changed));
  };
  const struct {
    const wchar_t* name;
    const std::string* bytes;
    std::function<void(const std::wstring&)> spoil;
    std::uint64_t changed;  // bytes the edit wrote; 0: the file comes whole
  } rows[] = {
      {L"overwritten", &overwritten, nullptr, 65536},
      {L"inserted", &inserted, nullptr, 100 * 1024},
      {L"index_changed_after_signing", &overwritten,
       [](const std::wstring& f) { test::WriteFileBytes(f + L"\\defset.chunks\\big.def", std::string(52, 'x')); }, 0},
      {L"index_of_other_content", &overwritten, otherIndex, 0},
      {L"no_index", &overwritten, [](const std::wstring& f) { ::DeleteFileW((f + L"\\defset.chunks\\big.def").c_str()); },
       0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(Narrow(row.name));
    RemoveInstalled();
    const DefinitionSet v1{L"1.0", L"2026-12-01", {{L"big.def", base}, {L"small.def", Pattern(100, 1)}}, true};
    ASSERT_OK(Update(Settings(PublishAs((std::wstring(row.name) + L"1").c_str(), v1))));
    DefinitionSet v2 = v1;
    v2.version = L"2.0";
    v2.files[0].bytes = *row.bytes;
    const std::wstring folder = PublishAs(row.name, v2);
    if (row.spoil) row.spoil(folder);
    std::wstring result;
    const ResultChain chain = Update(Settings(folder), &result);
    ASSERT_OK(chain);
    ExpectInstalled(defs_, v2);
    ExpectOnlyDefinitionFolder();
    const std::uint64_t fetched = std::stoull(ResultValue(result, L"FetchedBytes"));
    EXPECT_EQ(ResultValue(result, L"AssembledFiles"), row.changed != 0 ? L"1" : L"0");
    if (row.changed != 0) {
      EXPECT_LE(fetched, row.changed + 2 * ref::kMaxChunk + index.size());
    } else {
      EXPECT_GE(fetched, row.bytes->size());
    }
  }
}

// Between full checks only the files' identities are compared: a file altered in place
// with its last-write time put back goes unnoticed until the next full hash, which
// "FullVerifyDays" bounds.
TEST_F(ReferenceEngineTest, IdentitiesAreTrustedUntilTheNextFullHash) {
  const std::wstring v1 = PublishAs(L"v1", v1_);
  const std::wstring record = defs_ + L".identities";
  const struct {
    const wchar_t* setting;
    int ageDays;  // of the last full hash, set back in the record
    bool caught;
  } rows[] = {{L"", 0, false}, {L"", 8, true}, {L"FullVerifyDays=0\r\n", 0, true}, {L"FullVerifyDays=30\r\n", 8, false}};
  for (const auto& row : rows) {
    SCOPED_TRACE(Narrow(row.setting) + " " + std::to_string(row.ageDays));
    const std::wstring full = Settings(v1) + L"[ScanEngine]\r\nFullVerifyDays=0\r\n";
    const ResultChain repaired = Update(full);
    ASSERT_TRUE(repaired.Succeeded() || repaired.Last() == err::AlreadyLastestDefinition);
    ExpectInstalled(defs_, v1_);
    ASSERT_TRUE(AlterKeepingIdentity(defs_ + L"\\alpha.def"));
    if (row.ageDays != 0) {
      IniDocument text;
      ASSERT_OK(text.ParseBytes(test::ReadFileBytes(record)));
      FILETIME now{};
      ::GetSystemTimeAsFileTime(&now);
      const std::uint64_t ticks = ((static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime) -
                                  static_cast<std::uint64_t>(row.ageDays) * 864000000000ULL;
      (void)text.SetString(L"HashedAt", std::to_wstring(ticks), L"SetIdentities");
      ASSERT_TRUE(test::WriteFileBytes(record, Narrow(text.ToText())));
    }
    const ResultChain chain = Update(Settings(v1) + L"[ScanEngine]\r\n" + row.setting);
    if (row.caught) {
      EXPECT_OK(chain);
      ExpectInstalled(defs_, v1_);
    } else {
      EXPECT_EQ(chain.Last(), err::AlreadyLastestDefinition) << Narrow(chain.ToText());
      EXPECT_EQ(test::ReadFileBytes(defs_ + L"\\alpha.def").substr(0, 2), "XX");
    }
  }
  // A touched file (another last-write time, the same content) is hashed and kept.
  HandleHolder touched(INVALID_HANDLE_VALUE);
  FILETIME later{1, 0x01DD0000};
  const ResultChain repaired = Update(Settings(v1) + L"[ScanEngine]\r\nFullVerifyDays=0\r\n");
  ASSERT_TRUE(repaired.Succeeded() || repaired.Last() == err::AlreadyLastestDefinition);
  ASSERT_EQ(touched.Attach(::CreateFileW((defs_ + L"\\beta.dat").c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                         OPEN_EXISTING, 0, nullptr))
                .Count(),
            0u);
  ASSERT_TRUE(::SetFileTime(touched.Get(), nullptr, nullptr, &later));
  ASSERT_OK(touched.Close());
  const std::string before = test::ReadFileBytes(record);
  EXPECT_EQ(Update(Settings(v1)).Last(), err::AlreadyLastestDefinition);
  EXPECT_NE(test::ReadFileBytes(record), before) << "the new identity is recorded";
}

TEST_F(ReferenceEngineTest, WithAKeyConfiguredOnlyASetSignedByItIsInstalled) {
  const std::wstring keyLine = L"[ScanEngine]\r\nPublicKey=" + test::TestKey().publicKey + L"\r\n";
  test::SigningKey other;
  std::string otherPublic;
  ASSERT_OK(ref::GenerateSigningKey(other.privateBlob, otherPublic));
  struct Case {
    const wchar_t* name;
    std::function<void(const std::wstring& folder)> sign;
    ErrorCode cause;
  };
  const std::vector<Case> cases = {
      {L"unsigned", [](const std::wstring&) {}, ref::SignatureNotFound},
      {L"other_key", [&](const std::wstring& f) { test::SignSet(f, other); }, ref::SignatureInvalid},
      {L"garbage", [](const std::wstring& f) { test::WriteFileBytes(f + L"\\defset.sig", "not a signature"); },
       ref::SignatureInvalid},
      {L"changed_after_signing",
       [](const std::wstring& f) {
         test::SignSet(f);
         const std::string manifest = test::ReadFileBytes(f + L"\\defset.ini");
         test::WriteFileBytes(f + L"\\defset.ini", manifest + "\r\n");
       },
       ref::SignatureInvalid},
      {L"signed", [](const std::wstring& f) { test::SignSet(f); }, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.name));
    const std::wstring source = PublishAs(c.name, v1_);
    c.sign(source);
    const ResultChain chain = Update(Settings(source) + keyLine);
    EXPECT_EQ(chain.Last(), c.cause) << Narrow(chain.ToText());
    if (c.cause != 0) {
      EXPECT_TRUE(chain.Contains(err::UpdateUncIni));
      EXPECT_FALSE(Exists(defs_));
    }
  }
  ExpectInstalled(defs_, v1_, /*signedSet=*/true);

  // While a publisher moves to a new key, a build trusts both: either signs.
  const std::wstring& key = test::TestKey().publicKey;
  const std::string nextText = ref::ToBase64(otherPublic);
  const std::wstring next(nextText.begin(), nextText.end());
  for (const auto& [keys, cause] : std::vector<std::pair<std::wstring, ErrorCode>>{
           {next + L" " + key, 0}, {L" " + key + L"  " + next, 0}, {next + L" " + next, ref::SignatureInvalid},
           {key + L" " + next + L" " + key, ref::PublicKeyInvalid}, {key + L" bm90IGEga2V5", ref::PublicKeyInvalid}}) {
    SCOPED_TRACE(Narrow(keys));
    test::RemoveTree(defs_);
    const ResultChain chain = Update(Settings(published_ + L"\\signed") + L"[ScanEngine]\r\nPublicKey=" + keys);
    EXPECT_EQ(chain.Last(), cause) << Narrow(chain.ToText());
    EXPECT_EQ(Exists(defs_), cause == 0);
  }
}

// Waits until `done` holds, polling; false after `timeoutMs`.
bool WaitFor(const std::function<bool()>& done, DWORD timeoutMs) {
  for (DWORD waited = 0; waited < timeoutMs; waited += 10) {
    if (done()) return true;
    ::Sleep(10);
  }
  return done();
}

TEST_F(ReferenceEngineTest, AnUpdaterKilledWhileCopyingLeavesThePreviousSetUsable) {
  ASSERT_OK(Update(Settings(PublishAs(L"v1", v1_))));
  DefinitionSet large{L"3.0", L"2026-12-09", {}, true};
  for (unsigned i = 0; i < 12; ++i) {
    large.files.push_back({L"part" + std::to_wstring(i) + L".def", Pattern(256 * 1024, i)});
  }
  const std::wstring v3 = PublishAs(L"v3", large);

  // The engine's own test aid slows the copy so that the kill lands inside it.
  const std::wstring settingsFile = root_ + L"\\settings.ini";
  ASSERT_TRUE(test::WriteFileBytes(settingsFile, Narrow(Settings(v3) + L"[ScanEngine]\r\nCopyDelayMs=250\r\n")));
  std::wstring commandLine = L"\"" + test::ProgramFolder() + L"\\kv_engine_update.exe\" \"" + settingsFile + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started{};
  ASSERT_TRUE(::kv::test::CreateProcessRetrying(commandLine.data(), FALSE, 0, &startup, &started));
  HandleHolder process, thread;
  ASSERT_OK(process.Attach(started.hProcess));
  ASSERT_OK(thread.Attach(started.hThread));

  const std::wstring staging = defs_ + L".staging";
  const bool copying = WaitFor([&] { return Listing(staging).size() >= 2; }, 60000);
  ::TerminateProcess(process.Get(), 99);
  ASSERT_EQ(::WaitForSingleObject(process.Get(), 60000), WAIT_OBJECT_0);
  DWORD exitCode = 0;
  ::GetExitCodeProcess(process.Get(), &exitCode);
  ASSERT_TRUE(copying) << "the staging folder never filled";
  ASSERT_EQ(exitCode, 99u) << "the updater ended before it was killed";

  EXPECT_TRUE(Exists(staging)) << "killed mid-copy";
  ExpectInstalled(defs_, v1_);

  // What the killed updater had fetched is not fetched again.
  std::wstring result;
  const ResultChain chain = Update(Settings(v3), &result);
  EXPECT_OK(chain);
  ExpectInstalled(defs_, large);
  ExpectOnlyDefinitionFolder();
  EXPECT_NE(ResultValue(result, L"AssembledFiles"), L"0");
  EXPECT_LT(std::stoull(ResultValue(result, L"FetchedBytes")), 12u * 256 * 1024);
}

}  // namespace
}  // namespace kv
