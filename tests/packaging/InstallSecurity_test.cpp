// The access lists the package's custom actions give. Wine keeps neither a file's nor a
// service's list, so the descriptors are read as built, entry by entry; that the action
// sets the service's list shows in the installation log (Package_test.cpp).
#include "setup/InstallSecurity.h"

#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <string>

#include "foundation/SecurityDescriptor.h"

namespace kv {
namespace {

struct Rights {
  DWORD allowed = 0;
  int entries = 0;
  bool inherited = false;
};

// What the access list grants the account `sddlSid` ("SY", "BU", ...) by its own entries.
Rights RightsOf(const SecurityDescriptor& descriptor, const wchar_t* sddlSid) {
  Rights rights;
  BOOL present = FALSE, defaulted = FALSE;
  PACL acl = nullptr;
  PSID sid = nullptr;
  if (!::GetSecurityDescriptorDacl(descriptor.Get(), &present, &acl, &defaulted) || !present || acl == nullptr ||
      !::ConvertStringSidToSidW(sddlSid, &sid)) {
    return rights;
  }
  for (DWORD i = 0; i < acl->AceCount; ++i) {
    void* ace = nullptr;
    if (!::GetAce(acl, i, &ace)) continue;
    const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    if (allowed->Header.AceType != ACCESS_ALLOWED_ACE_TYPE ||
        !::EqualSid(sid, const_cast<DWORD*>(&allowed->SidStart))) {
      continue;
    }
    rights.allowed |= allowed->Mask;
    ++rights.entries;
    rights.inherited = rights.inherited || (allowed->Header.AceFlags & (INHERITED_ACE | INHERIT_ONLY_ACE)) != 0;
  }
  ::LocalFree(sid);
  return rights;
}

TEST(InstallSecurity, TheServiceAnswersUsersQueriesButTakesControlsFromAdministratorsOnly) {
  SecurityDescriptor descriptor;
  ASSERT_EQ(descriptor.FromSddl(setup::kServiceSddl).Count(), 0u);
  constexpr DWORD kQuery = SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS | SERVICE_INTERROGATE;
  constexpr DWORD kControl = SERVICE_USER_DEFINED_CONTROL | SERVICE_START | SERVICE_STOP | SERVICE_PAUSE_CONTINUE |
                             SERVICE_CHANGE_CONFIG | WRITE_DAC | WRITE_OWNER | DELETE;
  struct Case {
    const wchar_t* sid;
    DWORD must, mustNot;
  };
  for (const Case& c : {Case{L"SY", SERVICE_ALL_ACCESS, 0}, Case{L"BA", SERVICE_ALL_ACCESS, 0},
                        Case{L"IU", kQuery, kControl}, Case{L"AU", kQuery, kControl},
                        Case{L"BU", 0, 0xFFFFFFFF}, Case{L"WD", 0, 0xFFFFFFFF}, Case{L"SU", 0, 0xFFFFFFFF}}) {
    SCOPED_TRACE(c.sid);
    const Rights rights = RightsOf(descriptor, c.sid);
    EXPECT_EQ(rights.allowed & c.must, c.must);
    EXPECT_EQ(rights.allowed & c.mustNot, 0u);
  }
}

TEST(InstallSecurity, TheSettingsFileIsForSystemAndAdministratorsOnlyAndInheritsNothing) {
  SecurityDescriptor descriptor;
  ASSERT_EQ(descriptor.FromSddl(setup::kSettingsFileSddl).Count(), 0u);
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(::GetSecurityDescriptorControl(descriptor.Get(), &control, &revision));
  EXPECT_NE(control & SE_DACL_PROTECTED, 0) << "the folder's entries must not flow in";
  for (const wchar_t* sid : {L"SY", L"BA"}) {
    SCOPED_TRACE(sid);
    const Rights rights = RightsOf(descriptor, sid);
    EXPECT_EQ(rights.allowed, static_cast<DWORD>(FILE_ALL_ACCESS));
    EXPECT_FALSE(rights.inherited);
  }
  for (const wchar_t* sid : {L"BU", L"AU", L"IU", L"WD", L"CO"}) {
    SCOPED_TRACE(sid);
    EXPECT_EQ(RightsOf(descriptor, sid).entries, 0);
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
