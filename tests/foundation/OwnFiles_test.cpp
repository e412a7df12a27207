#include "foundation/OwnFiles.h"

#include <gtest/gtest.h>

#include <string>

#include "foundation/GroupAccess.h"
#include "foundation/SecurityDescriptor.h"
#include "support/WinTestUtil.h"

namespace kv {
namespace {

// What each creation asks for, judged as the folder check judges: nobody but SYSTEM and
// Administrators may write, and Users read only where others must read.
TEST(CreationSddl, NobodyElseWritesAndUsersReadOnlyWhereAsked) {
  const struct {
    Readers readers;
    bool folder;
    const wchar_t* read;
  } cases[] = {
      {Readers::Nobody, false, L""}, {Readers::Users, false, L"Users"},
      {Readers::Nobody, true, L""},  {Readers::Users, true, L"Users"},
  };
  for (const auto& c : cases) {
    SecurityDescriptor descriptor;
    ASSERT_FALSE(descriptor.FromSddl(CreationSddl(c.readers, c.folder)).Failed());
    const GroupAccess access = JudgeGroupAccess(descriptor.Get(), {L"S-1-5-18", L"S-1-5-32-544"});
    EXPECT_EQ(PrincipalNames(access.read), c.read) << c.folder;
    EXPECT_TRUE(access.write.empty() && access.createFolders.empty()) << c.folder;
    EXPECT_EQ(descriptor.ToSddl(DACL_SECURITY_INFORMATION).rfind(L"D:P", 0), 0u) << "nothing inherited";
  }
}

TEST(OwnFiles, CreatesOpensAndRefusesWhatIsNotAFolder) {
  const std::wstring root = test::FreshFolder(L"own_files");
  const std::wstring file = root + L"\\version.ini";
  HANDLE created = OpenForWriting(file, GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, Readers::Users);
  ASSERT_NE(created, INVALID_HANDLE_VALUE) << ::GetLastError();
  EXPECT_EQ(::GetLastError(), 0u) << "a creation";
  ::CloseHandle(created);
  HANDLE opened = OpenForWriting(file, GENERIC_WRITE, 0, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, Readers::Users);
  ASSERT_NE(opened, INVALID_HANDLE_VALUE) << ::GetLastError();
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS)) << "told apart from a creation";
  ::CloseHandle(opened);

  EXPECT_FALSE(CreateOwnFolder(root + L"\\defs", Readers::Users).Failed());
  EXPECT_FALSE(CreateOwnFolder(root + L"\\defs", Readers::Users).Failed()) << "an existing one is taken";
  EXPECT_EQ(CreateOwnFolder(root + L"\\defs", Readers::Users, /*mustBeNew=*/true).Last(),
            static_cast<ErrorCode>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(CreateOwnFolder(file, Readers::Users).Last(), static_cast<ErrorCode>(ERROR_DIRECTORY));
  test::RemoveTree(root);
}

}  // namespace
}  // namespace kv
