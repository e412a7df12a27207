#include "protect/ResourceFile.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/ErrorCodes.h"
#include "foundation/TextEncoding.h"
#include "support/BuiltinConfig.h"
#include "support/WinTestUtil.h"

namespace kv {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::wstring ProgramFile() { return test::ServiceProgramFile(); }
std::wstring BuiltinText() { return test::BuiltinConfigText(); }

TEST(ResourceName, IsHashAndNumber) {
  const struct {
    int number;
    const wchar_t* name;
  } rows[] = {{1, L"#1"}, {4096, L"#4096"}, {0, L"#0"}, {-7, L"#-7"}, {65535, L"#65535"}};
  for (const auto& row : rows) EXPECT_EQ(ResourceName(row.number), row.name) << row.number;
}

TEST(ResourceFile, NameRules) {
  ResourceFile file;
  ASSERT_FALSE(file.Open(ProgramFile()).Failed());
  const struct {
    std::wstring name;
    bool invalidKey;
  } rows[] = {
      {L"#4096", false},
      {L"#1", false},
      {std::wstring(63, L'N'), false},
      {std::wstring(64, L'N'), true},
      {L"#" + std::wstring(63, L'1'), true},
      {L"", true},
      {L"a/b", true},
      {L"a\\b", true},
      {L"x-y", true},
      {L"name.with dots 1", false},
  };
  for (const auto& row : rows) {
    Bytes bytes{1};
    const ResultChain chain = file.Read(row.name, LANG_NEUTRAL, bytes);
    if (row.invalidKey) {
      EXPECT_EQ(chain.Last(), err::InvalidKey) << row.name.size();
    } else {
      EXPECT_NE(chain.Last(), err::InvalidKey) << row.name.size();
    }
    if (chain.Failed()) {
      EXPECT_TRUE(bytes.empty());
    }
  }
}

TEST(ResourceFile, ReadsTheSealedResourcesOfTheProgram) {
  ResourceFile file;
  ASSERT_FALSE(file.Open(ProgramFile()).Failed());
  EXPECT_EQ(file.ResourceType(), L"BINARY");
  Bytes keyResource, configResource;
  ASSERT_FALSE(file.Read(L"#1", LANG_NEUTRAL, keyResource).Failed());
  ASSERT_FALSE(file.Read(L"#4096", LANG_NEUTRAL, configResource).Failed());
  EXPECT_EQ(keyResource.size(), 128u);
  EXPECT_EQ(configResource.size() % 32, 0u);
  EXPECT_GE(configResource.size(), 96u);

  Bytes missing{1};
  const ResultChain chain = file.Read(L"#77", LANG_NEUTRAL, missing);
  EXPECT_EQ(chain.Last(), static_cast<ErrorCode>(ERROR_RESOURCE_NAME_NOT_FOUND));
  EXPECT_TRUE(missing.empty());

  ResourceFile otherType;
  otherType.SetResourceType(L"NOSUCHTYPE");
  ASSERT_FALSE(otherType.Open(ProgramFile()).Failed());
  EXPECT_EQ(otherType.Read(L"#1", LANG_NEUTRAL, missing).Last(),
            static_cast<ErrorCode>(ERROR_RESOURCE_TYPE_NOT_FOUND));
}

TEST(ResourceFile, ModuleFileMustBeKnownAndPresent) {
  Bytes bytes;
  ResourceFile unopened;
  EXPECT_EQ(unopened.Read(L"#1", LANG_NEUTRAL, bytes).Last(), err::HandleNotEnabled);
  EXPECT_EQ(unopened.ProtectedRead(4096, bytes).Last(), err::HandleNotEnabled);

  ResourceFile missing;
  EXPECT_TRUE(missing.Open(test::ProgramFolder() + L"\\NoSuchProgram.exe").Failed());
  EXPECT_TRUE(missing.ModuleFile().empty());

  // The test program itself carries no resources.
  ResourceFile own;
  EXPECT_TRUE(own.Open().Failed());
  EXPECT_TRUE(own.ModuleFile().empty());

  const std::wstring folder = test::FreshFolder(L"kv_protect_gone");
  const std::wstring copy = folder + L"\\Kestravondalsc.exe";
  ASSERT_TRUE(::CopyFileW(ProgramFile().c_str(), copy.c_str(), /*bFailIfExists=*/FALSE));
  ResourceFile gone;
  ASSERT_FALSE(gone.Open(copy).Failed());
  EXPECT_EQ(gone.ModuleFile(), copy);
  ASSERT_TRUE(::DeleteFileW(copy.c_str()));
  EXPECT_EQ(gone.Read(L"#4096", LANG_NEUTRAL, bytes).Last(), err::FileNotFound);
  EXPECT_EQ(gone.ProtectedRead(4096, bytes).Last(), err::FileNotFound);
  test::RemoveTree(folder);
}

TEST(ResourceFile, ProtectedReadOpensTheBuiltInConfiguration) {
  ResourceFile file;
  ASSERT_FALSE(file.Open(ProgramFile()).Failed());
  Bytes payload;
  ASSERT_FALSE(file.ProtectedRead(4096, payload).Failed());
  const std::string expected = test::ReadFileBytes(test::ProgramFolder() + L"\\builtin-config.ini");
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(std::string(payload.begin(), payload.end()), expected);
  EXPECT_EQ(file.ProtectedText(4096), BuiltinText());

  // Resource 1 is not keyed by its own key material, and absent resources fail.
  EXPECT_EQ(file.ProtectedRead(1, payload).Last(), err::NotSameHash);
  EXPECT_TRUE(payload.empty());
  EXPECT_EQ(file.ProtectedRead(77, payload).Last(), static_cast<ErrorCode>(ERROR_RESOURCE_NAME_NOT_FOUND));
  EXPECT_TRUE(file.ProtectedText(77).empty());
}

}  // namespace
}  // namespace kv
