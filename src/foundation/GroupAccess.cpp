#include "foundation/GroupAccess.h"

#include <sddl.h>

namespace kv {

namespace {

constexpr ACCESS_MASK kReadRights = FILE_READ_DATA;
constexpr ACCESS_MASK kCreateFolderRights = FILE_ADD_SUBDIRECTORY;
constexpr ACCESS_MASK kWriteRights =
    FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER;

struct Group {
  unsigned bit;
  const wchar_t* sid;
  const wchar_t* name;
};
constexpr Group kGroups[] = {
    {kGroupUsers, L"S-1-5-32-545", L"Users"},
    {kGroupAuthenticatedUsers, L"S-1-5-11", L"Authenticated Users"},
    {kGroupInteractive, L"S-1-5-4", L"Interactive"},
    {kGroupEveryone, L"S-1-1-0", L"Everyone"},
};
constexpr wchar_t kEveryoneSid[] = L"S-1-1-0";
constexpr wchar_t kOwnerRightsSid[] = L"S-1-3-4";

// A SID from its text, freed with LocalFree.
class SidText {
 public:
  explicit SidText(const wchar_t* text) { ::ConvertStringSidToSidW(text, &sid_); }
  ~SidText() {
    if (sid_ != nullptr) ::LocalFree(sid_);
  }
  SidText(const SidText&) = delete;
  SidText& operator=(const SidText&) = delete;
  bool Is(PSID other) const { return sid_ != nullptr && other != nullptr && ::EqualSid(sid_, other); }

 private:
  PSID sid_ = nullptr;
};

ACCESS_MASK FileRights(ACCESS_MASK mask) {
  GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
  ::MapGenericMask(&mask, &mapping);
  return mask;
}

// The rights the list grants to a caller who holds `group` and Everyone.
ACCESS_MASK Granted(PACL acl, const SidText& group, const SidText& everyone, PSID owner, const SidText& ownerRights) {
  ACCESS_MASK granted = 0, denied = 0;
  bool ownerRightsSeen = false;
  for (DWORD i = 0; i < acl->AceCount; ++i) {
    ACE_HEADER* header = nullptr;
    if (!::GetAce(acl, i, reinterpret_cast<void**>(&header))) continue;
    if (header->AceFlags & INHERIT_ONLY_ACE) continue;
    // The allowed and denied ACEs share their layout: header, mask, SID.
    const bool allows = header->AceType == ACCESS_ALLOWED_ACE_TYPE;
    if (!allows && header->AceType != ACCESS_DENIED_ACE_TYPE) continue;
    auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
    PSID sid = &ace->SidStart;
    const bool ownerAce = ownerRights.Is(sid);
    ownerRightsSeen = ownerRightsSeen || ownerAce;
    const bool holds = group.Is(sid) || everyone.Is(sid) || (ownerAce && (group.Is(owner) || everyone.Is(owner)));
    if (!holds) continue;
    const ACCESS_MASK rights = FileRights(ace->Mask);
    if (allows) {
      granted |= rights & ~denied;
    } else {
      denied |= rights & ~granted;
    }
  }
  // The owner may always read and change the access list, unless OWNER RIGHTS limits it.
  if (!ownerRightsSeen && (group.Is(owner) || everyone.Is(owner))) granted |= (READ_CONTROL | WRITE_DAC) & ~denied;
  return granted;
}

}  // namespace

GroupAccess JudgeGroupAccess(PSECURITY_DESCRIPTOR descriptor) {
  GroupAccess access;
  BOOL present = FALSE, defaulted = FALSE;
  PACL acl = nullptr;
  PSID owner = nullptr;
  if (descriptor == nullptr || !::GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted) ||
      !::GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) || !present || acl == nullptr) {
    access.read = access.write = access.createFolders = kAllBroadGroups;
    return access;
  }
  const SidText everyone(kEveryoneSid), ownerRights(kOwnerRightsSid);
  for (const Group& g : kGroups) {
    const SidText group(g.sid);
    const ACCESS_MASK rights = Granted(acl, group, everyone, owner, ownerRights);
    if (rights & kReadRights) access.read |= g.bit;
    if (rights & kWriteRights) access.write |= g.bit;
    if (rights & kCreateFolderRights) access.createFolders |= g.bit;
  }
  return access;
}

std::wstring BroadGroupNames(unsigned groups) {
  // Every caller holds Everyone: what it may do, all the others may too.
  if (groups & kGroupEveryone) return L"Everyone";
  std::wstring names;
  for (const Group& g : kGroups) {
    if (groups & g.bit) names += (names.empty() ? L"" : L", ") + std::wstring(g.name);
  }
  return names;
}

}  // namespace kv
