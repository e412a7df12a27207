#include "foundation/GroupAccess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include "foundation/PrivateFileAccess.h"
#include "foundation/SecurityDescriptor.h"
#include "support/ResultAssertions.h"

namespace kv {
namespace {

constexpr wchar_t kTrustedInstaller[] = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
// The judging account in these rows: an administrator's own.
constexpr wchar_t kOwnAdmin[] = L"S-1-5-21-1-2-3-500";

std::wstring Joined(const std::vector<std::wstring>& names) {
  std::wstring text;
  for (const std::wstring& name : names) text += (text.empty() ? L"" : L",") + name;
  return text;
}

TEST(JudgeGroupAccess, DescriptorsFromSddl) {
  const std::vector<std::wstring> trusted{L"S-1-5-18", L"S-1-5-32-544", kTrustedInstaller, kOwnAdmin};
  const struct {
    const wchar_t* what;
    std::wstring sddl;
    const wchar_t *read, *write, *createFolders;
  } cases[] = {
      {L"Program Files", L"O:SYD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)", L"Users", L"", L""},
      {L"a folder made under C:\\", L"O:BAD:AI(A;ID;FA;;;SY)(A;OICIID;0x1301bf;;;AU)(A;OICIID;0x1200a9;;;BU)",
       L"Authenticated Users,Users", L"Authenticated Users", L"Authenticated Users"},
      {L"C:\\ itself: folders only, and Modify inherit-only", L"D:(A;;0x4;;;AU)(A;OICIIO;SDGXGWGR;;;AU)", L"",
       L"Authenticated Users", L"Authenticated Users"},
      {L"the trusted ones may do anything",
       L"O:" + std::wstring(kTrustedInstaller) + L"D:(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;" + kTrustedInstaller +
           L")(A;;FA;;;" + kOwnAdmin + L")",
       L"", L"", L""},
      {L"a user who owns the folder", L"O:S-1-5-21-1-2-3-1000D:(A;;FA;;;SY)", L"", L"S-1-5-21-1-2-3-1000", L""},
      {L"a user with an entry", L"O:SYD:(A;;0x1301bf;;;S-1-5-21-1-2-3-1001)", L"S-1-5-21-1-2-3-1001",
       L"S-1-5-21-1-2-3-1001", L"S-1-5-21-1-2-3-1001"},
      {L"LOCAL, SERVICE, the service accounts, app containers, a domain group",
       L"D:(A;;FW;;;S-1-2-0)(A;;FW;;;SU)(A;;FW;;;LS)(A;;FW;;;NS)(A;;FW;;;AC)(A;;FW;;;S-1-5-21-1-2-3-513)", L"",
       L"LOCAL,SERVICE,LocalService,NetworkService,ALL APPLICATION PACKAGES,S-1-5-21-1-2-3-513",
       L"LOCAL,SERVICE,LocalService,NetworkService,ALL APPLICATION PACKAGES,S-1-5-21-1-2-3-513"},
      {L"generic rights", L"D:(A;;GW;;;WD)(A;;GR;;;IU)", L"Interactive", L"Everyone,Interactive",
       L"Everyone,Interactive"},
      {L"a deny first wins", L"D:(D;;0xd0156;;;BU)(A;;FA;;;BU)", L"Users", L"", L""},
      {L"an allow first wins", L"D:(A;;FA;;;BU)(D;;FW;;;BU)", L"Users", L"Users", L"Users"},
      {L"Everyone's deny holds for all", L"D:(D;;0x6;;;WD)(A;;FA;;;BU)(A;;FA;;;AU)", L"Users,Authenticated Users",
       L"Users,Authenticated Users", L""},
      {L"rights from several ACEs", L"D:(A;;0x1;;;WD)(D;;0x2;;;AU)(A;;0x2;;;AU)(A;;0x4;;;AU)",
       L"Everyone,Authenticated Users", L"Authenticated Users", L"Authenticated Users"},
      {L"no access list", L"O:SY", L"Everyone", L"Everyone", L"Everyone"},
      {L"an empty access list", L"D:", L"", L"", L""},
      {L"an owning group may change the list", L"O:BUD:(A;;FA;;;SY)", L"", L"Users", L""},
      {L"unless OWNER RIGHTS says less", L"O:BUD:(A;;FR;;;S-1-3-4)", L"Users", L"", L""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SecurityDescriptor descriptor;
    ASSERT_OK(descriptor.FromSddl(c.sddl));
    const GroupAccess access = JudgeGroupAccess(descriptor.Get(), trusted);
    EXPECT_EQ(Joined(access.read), c.read);
    EXPECT_EQ(Joined(access.write), c.write);
    EXPECT_EQ(Joined(access.createFolders), c.createFolders);
  }
  EXPECT_EQ(Joined(JudgeGroupAccess(nullptr, trusted).write), L"Everyone");
  EXPECT_EQ(PrincipalNames({L"Users", L"S-1-5-21-1-2-3-1001"}), L"Users, S-1-5-21-1-2-3-1001");
  EXPECT_EQ(PrincipalNames({L"Users", L"Everyone"}), L"Everyone");
}

// An entry whose layout the judge does not read may grant anything: a callback entry
// for SYSTEM, whose condition could let anyone through, counts as an untrusted writer.
TEST(JudgeGroupAccess, AnEntryOfATypeItCannotReadCounts) {
  BYTE system[SECURITY_MAX_SID_SIZE];
  DWORD sidSize = sizeof system;
  ASSERT_TRUE(::CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &sidSize));
  alignas(DWORD) BYTE aclBytes[256];
  auto* acl = reinterpret_cast<PACL>(aclBytes);
  ASSERT_TRUE(::InitializeAcl(acl, sizeof aclBytes, ACL_REVISION));
  alignas(DWORD) BYTE aceBytes[sizeof(ACCESS_ALLOWED_CALLBACK_ACE) + SECURITY_MAX_SID_SIZE] = {};
  auto* ace = reinterpret_cast<ACCESS_ALLOWED_CALLBACK_ACE*>(aceBytes);
  ace->Header.AceType = ACCESS_ALLOWED_CALLBACK_ACE_TYPE;
  ace->Header.AceSize = static_cast<WORD>((offsetof(ACCESS_ALLOWED_CALLBACK_ACE, SidStart) + sidSize + 3) & ~3u);
  ace->Mask = FILE_ALL_ACCESS;
  ::CopySid(sidSize, &ace->SidStart, system);
  ASSERT_TRUE(::AddAce(acl, ACL_REVISION, MAXDWORD, ace, ace->Header.AceSize));
  SECURITY_DESCRIPTOR descriptor;
  ASSERT_TRUE(::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
  ASSERT_TRUE(::SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE));
  ASSERT_TRUE(::SetSecurityDescriptorOwner(&descriptor, system, FALSE));
  EXPECT_EQ(Joined(JudgeGroupAccess(&descriptor, {L"S-1-5-18"}).write), L"an entry of type 0x9");
}

TEST(TrustedPrincipals, TheSystemTheAdministratorsTheInstallerAndTheServiceItself) {
  EXPECT_EQ(ServiceSidText(L"TrustedInstaller"), kTrustedInstaller);
  const std::vector<std::wstring>& trusted = TrustedPrincipals();
  for (const std::wstring& sid : {std::wstring(L"S-1-5-18"), std::wstring(L"S-1-5-32-544"),
                                  std::wstring(kTrustedInstaller), ServiceSidText(L"Kestravondalsc")}) {
    EXPECT_NE(std::find(trusted.begin(), trusted.end(), sid), trusted.end()) << sid;
  }
}

TEST(PrivateFileSddl, OnlyTheMakerAndAdministratorsAndNothingInherited) {
  SecurityDescriptor descriptor;
  ASSERT_OK(descriptor.FromSddl(PrivateFileSddl(L"S-1-5-21-1-2-3-1000")));
  const GroupAccess access = JudgeGroupAccess(descriptor.Get(), {L"S-1-5-21-1-2-3-1000", L"S-1-5-32-544"});
  EXPECT_EQ(Joined(access.read) + Joined(access.write), L"");
  EXPECT_EQ(descriptor.ToSddl(OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION),
            L"O:S-1-5-21-1-2-3-1000D:P(A;;FA;;;S-1-5-21-1-2-3-1000)(A;;FA;;;BA)");
}

}  // namespace
}  // namespace kv
