#include "foundation/GroupAccess.h"

#include <gtest/gtest.h>

#include "foundation/PrivateFileAccess.h"
#include "foundation/SecurityDescriptor.h"

namespace kv {
namespace {

constexpr unsigned U = kGroupUsers, AU = kGroupAuthenticatedUsers, IU = kGroupInteractive, WD = kGroupEveryone;
constexpr unsigned All = kAllBroadGroups;

TEST(JudgeGroupAccess, DescriptorsFromSddl) {
  const struct {
    const wchar_t* what;
    const wchar_t* sddl;
    unsigned read, write, createFolders;
  } cases[] = {
      {L"Program Files", L"O:SYD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)", U, 0, 0},
      {L"a folder made under C:\\", L"O:BAD:AI(A;ID;FA;;;SY)(A;OICIID;0x1301bf;;;AU)(A;OICIID;0x1200a9;;;BU)", U | AU,
       AU, AU},
      {L"C:\\ itself: folders only, and Modify inherit-only", L"D:(A;;0x4;;;AU)(A;OICIIO;SDGXGWGR;;;AU)", 0, AU, AU},
      {L"the service's own account owns everything", L"O:S-1-5-21-1-2-3-1000D:(A;;FA;;;S-1-5-21-1-2-3-1000)", 0, 0, 0},
      {L"generic rights", L"D:(A;;GW;;;WD)(A;;GR;;;IU)", IU, All, All},
      {L"a deny first wins", L"D:(D;;0xd0156;;;BU)(A;;FA;;;BU)", U, 0, 0},
      {L"an allow first wins", L"D:(A;;FA;;;BU)(D;;FW;;;BU)", U, U, U},
      {L"Everyone's deny holds for all", L"D:(D;;0x6;;;WD)(A;;FA;;;BU)(A;;FA;;;AU)", U | AU, U | AU, 0},
      {L"rights from several ACEs", L"D:(A;;0x1;;;WD)(D;;0x2;;;AU)(A;;0x2;;;AU)(A;;0x4;;;AU)", All, AU, AU},
      {L"no access list", L"O:SY", All, All, All},
      {L"an empty access list", L"D:", 0, 0, 0},
      {L"an owning group may change the list", L"O:BUD:(A;;FA;;;SY)", 0, U, 0},
      {L"unless OWNER RIGHTS says less", L"O:BUD:(A;;FR;;;S-1-3-4)", U, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SecurityDescriptor descriptor;
    ASSERT_EQ(descriptor.FromSddl(c.sddl).Count(), 0u);
    const GroupAccess access = JudgeGroupAccess(descriptor.Get());
    EXPECT_EQ(access.read, c.read);
    EXPECT_EQ(access.write, c.write);
    EXPECT_EQ(access.createFolders, c.createFolders);
  }
  EXPECT_EQ(JudgeGroupAccess(nullptr).write, All);
  EXPECT_EQ(BroadGroupNames(U | AU), L"Users, Authenticated Users");
  EXPECT_EQ(BroadGroupNames(U | WD), L"Everyone");
}

TEST(PrivateFileSddl, OnlyTheMakerAndAdministratorsAndNothingInherited) {
  SecurityDescriptor descriptor;
  ASSERT_EQ(descriptor.FromSddl(PrivateFileSddl(L"S-1-5-21-1-2-3-1000")).Count(), 0u);
  const GroupAccess access = JudgeGroupAccess(descriptor.Get());
  EXPECT_EQ(access.read | access.write, 0u);
  EXPECT_EQ(descriptor.ToSddl(OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION),
            L"O:S-1-5-21-1-2-3-1000D:P(A;;FA;;;S-1-5-21-1-2-3-1000)(A;;FA;;;BA)");
}

}  // namespace
}  // namespace kv
