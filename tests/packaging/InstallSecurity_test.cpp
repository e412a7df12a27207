// The access lists the package's custom actions give. Wine keeps neither a file's nor a
// service's list, so the descriptors are read as built, entry by entry; that the action
// sets the service's list shows in the installation log (Package_test.cpp).
#include "setup/InstallSecurity.h"

#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include "foundation/SecurityDescriptor.h"
#include "support/ResultAssertions.h"

namespace kv {
namespace {

// The rights the list's own entries allow the account `sddlSid` ("SY", "BU", ...); with
// `inherited`, whether any of them is marked as inherited.
DWORD RightsOf(const SecurityDescriptor& descriptor, const wchar_t* sddlSid, bool* inherited = nullptr) {
  BOOL present = FALSE, defaulted = FALSE;
  PACL acl = nullptr;
  PSID sid = nullptr;
  DWORD rights = 0;
  if (!::GetSecurityDescriptorDacl(descriptor.Get(), &present, &acl, &defaulted) || acl == nullptr ||
      !::ConvertStringSidToSidW(sddlSid, &sid)) {
    return rights;
  }
  for (DWORD i = 0; i < acl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    if (!::GetAce(acl, i, reinterpret_cast<void**>(&ace)) || ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE ||
        !::EqualSid(sid, &ace->SidStart)) {
      continue;
    }
    rights |= ace->Mask;
    if (inherited != nullptr) *inherited = *inherited || (ace->Header.AceFlags & INHERITED_ACE) != 0;
  }
  ::LocalFree(sid);
  return rights;
}

TEST(InstallSecurity, ServiceAndSettingsFileListsGiveEachAccountItsRightsOnly) {
  constexpr DWORD kQuery = SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS | SERVICE_INTERROGATE;
  constexpr DWORD kControl = SERVICE_USER_DEFINED_CONTROL | SERVICE_START | SERVICE_STOP | SERVICE_PAUSE_CONTINUE |
                             SERVICE_CHANGE_CONFIG | WRITE_DAC | WRITE_OWNER | DELETE;
  struct Case {
    const wchar_t* sddl;
    const wchar_t* sid;
    DWORD must, mustNot;
  };
  const wchar_t* service = setup::kServiceSddl;
  const wchar_t* file = setup::kSettingsFileSddl;
  for (const Case& c : {Case{service, L"SY", SERVICE_ALL_ACCESS, 0}, Case{service, L"BA", SERVICE_ALL_ACCESS, 0},
                        Case{service, L"IU", kQuery, kControl}, Case{service, L"AU", kQuery, kControl},
                        Case{service, L"BU", 0, ~0u}, Case{service, L"WD", 0, ~0u},
                        Case{file, L"SY", FILE_ALL_ACCESS, 0}, Case{file, L"BA", FILE_ALL_ACCESS, 0},
                        Case{file, L"BU", 0, ~0u}, Case{file, L"AU", 0, ~0u}, Case{file, L"WD", 0, ~0u},
                        Case{file, L"CO", 0, ~0u}}) {
    SCOPED_TRACE(std::wstring(c.sid) + L" in " + c.sddl);
    SecurityDescriptor descriptor;
    ASSERT_OK(descriptor.FromSddl(c.sddl));
    bool inherited = false;
    const DWORD rights = RightsOf(descriptor, c.sid, &inherited);
    EXPECT_EQ(rights & c.must, c.must);
    EXPECT_EQ(rights & c.mustNot, 0u);
    EXPECT_FALSE(inherited);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(::GetSecurityDescriptorControl(descriptor.Get(), &control, &revision));
    EXPECT_EQ((control & SE_DACL_PROTECTED) != 0, c.sddl == file) << "the file takes nothing from its folder";
  }
}

// What the action reports when the list cannot be set: the system's reason.
TEST(InstallSecurity, AServiceThatCannotBeSecuredGivesTheSystemsReason) {
  const ResultChain missing = setup::SecureService(L"KvNoSuchService", setup::kServiceSddl);
  EXPECT_TRUE(missing.Contains(ERROR_SERVICE_DOES_NOT_EXIST)) << missing.ToText();
  const ResultChain malformed = setup::SecureService(L"KvNoSuchService", L"D:(A;;nonsense;;;SY)");
  EXPECT_TRUE(malformed.Failed());
  EXPECT_FALSE(malformed.Contains(ERROR_SERVICE_DOES_NOT_EXIST)) << "refused before the service is asked";
}

}  // namespace
}  // namespace kv
