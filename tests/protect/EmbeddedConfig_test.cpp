#include "protect/EmbeddedConfig.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/ErrorCodes.h"
#include "foundation/TextEncoding.h"
#include "protect/ResourceFile.h"
#include "support/BuiltinConfig.h"
#include "support/WinTestUtil.h"

namespace kv {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::wstring ProgramFile() { return test::ServiceProgramFile(); }
std::wstring BuiltinText() { return test::BuiltinConfigText(); }

// A copy of the program in a scratch folder with one byte of resource `number` changed
// (at `offsetInResource`); empty when the resource cannot be found in the file.
std::wstring DamagedCopy(const std::wstring& folder, int number, std::size_t offsetInResource) {
  ResourceFile original;
  Bytes resource;
  if (original.Open(ProgramFile()).Failed() || original.Read(ResourceName(number), LANG_NEUTRAL, resource).Failed()) {
    return {};
  }
  std::string image = test::ReadFileBytes(ProgramFile());
  const std::size_t at = image.find(std::string(resource.begin(), resource.end()));
  if (at == std::string::npos || image.find(std::string(resource.begin(), resource.end()), at + 1) != std::string::npos) {
    return {};
  }
  const std::size_t offset = offsetInResource < resource.size() ? offsetInResource : resource.size() - 1;
  image[at + offset] ^= 0x01;
  const std::wstring copy = folder + L"\\Kestravondalsc.exe";
  return test::WriteFileBytes(copy, image) ? copy : std::wstring();
}

TEST(EmbeddedConfig, SameTextOnEveryCallWhenReadable) {
  const std::wstring expected = BuiltinText();
  ASSERT_FALSE(expected.empty());
  EmbeddedConfig config(ProgramFile());
  for (int call = 0; call < 3; ++call) EXPECT_EQ(config.Text(), expected) << "call " << call;
  // The built-in text names what start-up needs.
  EXPECT_NE(expected.find(L"ScanDll=ScanEngine.dll"), std::wstring::npos);
  EXPECT_NE(expected.find(L"TimerElapse=30"), std::wstring::npos);
  EXPECT_NE(expected.find(L"LogFolder=log"), std::wstring::npos);
  EXPECT_NE(expected.find(L"[AntiVirus]"), std::wstring::npos);
  EXPECT_NE(expected.find(L"DefDatFolder="), std::wstring::npos);
}

TEST(EmbeddedConfig, DamagedResourcesGiveInvalidOnceThenEmpty) {
  const struct {
    const char* label;
    int resource;
    std::size_t offset;
  } rows[] = {
      {"config IV", 4096, 3},
      {"config body", 4096, 100},
      {"config digest block", 4096, static_cast<std::size_t>(-1)},
      {"key material", 1, 40},
  };
  for (const auto& row : rows) {
    const std::wstring folder = test::FreshFolder(L"kv_protect_damaged");
    const std::wstring copy = DamagedCopy(folder, row.resource, row.offset);
    ASSERT_FALSE(copy.empty()) << row.label;

    ResourceFile file;
    ASSERT_FALSE(file.Open(copy).Failed()) << row.label;
    Bytes payload;
    EXPECT_EQ(file.ProtectedRead(4096, payload).Last(), err::NotSameHash) << row.label;
    EXPECT_TRUE(payload.empty()) << row.label;

    EmbeddedConfig config(copy);
    EXPECT_EQ(config.Text(), L"INVALID") << row.label;
    EXPECT_EQ(config.Text(), L"") << row.label;
    EXPECT_EQ(config.Text(), L"") << row.label;
    test::RemoveTree(folder);
  }
}

TEST(EmbeddedConfig, UnchangedCopyOpensAndMissingFileIsInvalid) {
  const std::wstring folder = test::FreshFolder(L"kv_protect_copy");
  const std::wstring copy = folder + L"\\Kestravondalsc.exe";
  ASSERT_TRUE(::CopyFileW(ProgramFile().c_str(), copy.c_str(), /*bFailIfExists=*/FALSE));
  EmbeddedConfig good(copy);
  EXPECT_EQ(good.Text(), BuiltinText());

  EmbeddedConfig missing(folder + L"\\NoSuchProgram.exe");
  EXPECT_EQ(missing.Text(), L"INVALID");
  EXPECT_EQ(missing.Text(), L"");
  test::RemoveTree(folder);
}

TEST(EmbeddedConfig, TheTestProgramHasNoConfiguration) {
  // The process-wide text of this program (which carries no resources): the only call
  // sites of EmbeddedConfigText in this process are here.
  EXPECT_EQ(EmbeddedConfigText(), L"INVALID");
  EXPECT_EQ(EmbeddedConfigText(), L"");
}

}  // namespace
}  // namespace kv
