#include "foundation/GroupAccess.h"

#include <sddl.h>

#include <algorithm>

#include "foundation/CngHandles.h"
#include "foundation/FileHandle.h"
#include "foundation/FileSystem.h"
#include "foundation/KernelHandle.h"
#include "foundation/SecurityDescriptor.h"
#include "foundation/ServiceName.h"
#include "foundation/TextFormat.h"

namespace kv {

namespace {

constexpr ACCESS_MASK kReadRights = FILE_READ_DATA;
constexpr ACCESS_MASK kCreateFolderRights = FILE_ADD_SUBDIRECTORY;
constexpr ACCESS_MASK kWriteRights =
    FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER;

constexpr wchar_t kEveryone[] = L"S-1-1-0";
constexpr wchar_t kOwnerRights[] = L"S-1-3-4";
constexpr wchar_t kSystem[] = L"S-1-5-18";
constexpr wchar_t kAdministrators[] = L"S-1-5-32-544";

// Names an administrator reads more easily than the SID; any other principal is shown
// by its SID, which names it without asking a domain controller.
struct KnownName {
  const wchar_t* sid;
  const wchar_t* name;
};
constexpr KnownName kKnownNames[] = {
    {L"S-1-1-0", L"Everyone"},
    {L"S-1-2-0", L"LOCAL"},
    {L"S-1-5-2", L"NETWORK"},
    {L"S-1-5-4", L"Interactive"},
    {L"S-1-5-6", L"SERVICE"},
    {L"S-1-5-11", L"Authenticated Users"},
    {L"S-1-5-19", L"LocalService"},
    {L"S-1-5-20", L"NetworkService"},
    {L"S-1-5-32-545", L"Users"},
    {L"S-1-5-32-546", L"Guests"},
    {L"S-1-5-32-547", L"Power Users"},
    {L"S-1-15-2-1", L"ALL APPLICATION PACKAGES"},
    {L"S-1-15-2-2", L"ALL RESTRICTED APPLICATION PACKAGES"},
};

std::wstring NameOf(const std::wstring& sid) {
  for (const KnownName& known : kKnownNames) {
    if (sid == known.sid) return known.name;
  }
  return sid;
}

ACCESS_MASK FileRights(ACCESS_MASK mask) {
  GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
  ::MapGenericMask(&mask, &mapping);
  return mask;
}

// One entry of the list as the judge reads it.
struct Entry {
  BYTE type = 0;
  ACCESS_MASK rights = 0;
  std::wstring sid;
};

bool Understood(BYTE type) { return type == ACCESS_ALLOWED_ACE_TYPE || type == ACCESS_DENIED_ACE_TYPE; }
bool Denies(BYTE type) {
  return type == ACCESS_DENIED_ACE_TYPE || type == ACCESS_DENIED_OBJECT_ACE_TYPE ||
         type == ACCESS_DENIED_CALLBACK_ACE_TYPE || type == ACCESS_DENIED_CALLBACK_OBJECT_ACE_TYPE;
}

std::vector<Entry> EntriesOf(PACL acl) {
  std::vector<Entry> entries;
  for (DWORD i = 0; i < acl->AceCount; ++i) {
    ACE_HEADER* header = nullptr;
    if (!::GetAce(acl, i, reinterpret_cast<void**>(&header))) continue;
    if (header->AceFlags & INHERIT_ONLY_ACE) continue;
    // Every entry type has its mask right after the header; only the two plain ones are
    // sure to have the SID right after the mask.
    auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
    Entry entry{header->AceType, FileRights(ace->Mask), {}};
    if (Understood(header->AceType)) entry.sid = SidText(&ace->SidStart);
    entries.push_back(std::move(entry));
  }
  return entries;
}

// The rights the list grants a caller who holds `sid` and Everyone.
ACCESS_MASK Granted(const std::vector<Entry>& entries, const std::wstring& sid, bool isOwner) {
  ACCESS_MASK granted = 0, denied = 0;
  bool ownerRightsSeen = false;
  for (const Entry& entry : entries) {
    if (!Understood(entry.type)) continue;
    const bool ownerEntry = entry.sid == kOwnerRights;
    ownerRightsSeen = ownerRightsSeen || ownerEntry;
    if (entry.sid != sid && entry.sid != kEveryone && !(ownerEntry && isOwner)) continue;
    if (entry.type == ACCESS_ALLOWED_ACE_TYPE) {
      granted |= entry.rights & ~denied;
    } else {
      denied |= entry.rights & ~granted;
    }
  }
  if (isOwner && !ownerRightsSeen) granted |= (READ_CONTROL | WRITE_DAC) & ~denied;
  return granted;
}

void Add(std::vector<std::wstring>& names, const std::wstring& name) {
  if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
}

void Judge(GroupAccess& access, const std::wstring& name, ACCESS_MASK rights) {
  if (rights & kReadRights) Add(access.read, name);
  if (rights & kWriteRights) Add(access.write, name);
  if (rights & kCreateFolderRights) Add(access.createFolders, name);
}

BOOL CALLBACK MakeTrusted(PINIT_ONCE, void* list, void**) {
  auto& trusted = *static_cast<std::vector<std::wstring>*>(list);
  trusted = {kSystem, kAdministrators, ServiceSidText(L"TrustedInstaller"), ServiceSidText(kServiceNameWide)};
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return TRUE;
  const KernelHandle tokenOwner(token);
  BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  DWORD size = 0;
  if (!::GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size)) return TRUE;
  const std::wstring own = SidText(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid);
  BYTE administrators[SECURITY_MAX_SID_SIZE];
  DWORD sidSize = sizeof administrators;
  BOOL member = FALSE;
  if (own != kSystem && ::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &sidSize) &&
      ::CheckTokenMembership(nullptr, administrators, &member) && member) {
    trusted.push_back(own);
  }
  return TRUE;
}

}  // namespace

GroupAccess JudgeGroupAccess(PSECURITY_DESCRIPTOR descriptor, const std::vector<std::wstring>& trusted) {
  GroupAccess access;
  BOOL present = FALSE, defaulted = FALSE;
  PACL acl = nullptr;
  PSID ownerSid = nullptr;
  if (descriptor == nullptr || !::GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted) ||
      !::GetSecurityDescriptorOwner(descriptor, &ownerSid, &defaulted) || !present || acl == nullptr) {
    Judge(access, NameOf(kEveryone), FILE_ALL_ACCESS);
    return access;
  }
  const auto isTrusted = [&](const std::wstring& sid) {
    return std::find(trusted.begin(), trusted.end(), sid) != trusted.end();
  };
  const std::vector<Entry> entries = EntriesOf(acl);
  const std::wstring owner = SidText(ownerSid);
  // Everyone first: what it may do, every caller may.
  std::vector<std::wstring> callers{kEveryone};
  if (!owner.empty() && !isTrusted(owner)) callers.push_back(owner);
  for (const Entry& entry : entries) {
    if (entry.type == ACCESS_ALLOWED_ACE_TYPE && entry.sid != kOwnerRights && !isTrusted(entry.sid)) {
      callers.push_back(entry.sid);
    }
  }
  for (const std::wstring& caller : callers) Judge(access, NameOf(caller), Granted(entries, caller, caller == owner));
  // An entry the judge cannot read may grant anything to anyone; only its denials are
  // safe to leave out.
  for (const Entry& entry : entries) {
    if (!Understood(entry.type) && !Denies(entry.type)) {
      Judge(access, FormatText(L"an entry of type 0x%X", entry.type), entry.rights);
    }
  }
  return access;
}

std::wstring SidText(PSID sid) {
  wchar_t* text = nullptr;
  if (sid == nullptr || !::ConvertSidToStringSidW(sid, &text)) return {};
  const LocalMemory<wchar_t*> owned(text);
  return text;
}

bool IsTrusted(const std::wstring& sidText) {
  const std::vector<std::wstring>& trusted = TrustedPrincipals();
  return !sidText.empty() && std::find(trusted.begin(), trusted.end(), sidText) != trusted.end();
}

GroupAccess JudgeGroupAccess(PSECURITY_DESCRIPTOR descriptor) {
  return JudgeGroupAccess(descriptor, TrustedPrincipals());
}

const std::vector<std::wstring>& TrustedPrincipals() {
  static INIT_ONCE once = INIT_ONCE_STATIC_INIT;
  static std::vector<std::wstring> trusted;
  ::InitOnceExecuteOnce(&once, MakeTrusted, &trusted, nullptr);
  return trusted;
}

std::wstring ServiceSidText(const std::wstring& serviceName) {
  std::wstring upper = serviceName;
  ::CharUpperBuffW(upper.data(), static_cast<DWORD>(upper.size()));
  CngAlgorithm algorithm;
  if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(algorithm.Put(), BCRYPT_SHA1_ALGORITHM, nullptr, 0))) return {};
  UCHAR digest[20];
  CngHash hash;
  bool hashed = BCRYPT_SUCCESS(::BCryptCreateHash(algorithm.Get(), hash.Put(), nullptr, 0, nullptr, 0, 0));
  hashed = hashed && BCRYPT_SUCCESS(::BCryptHashData(hash.Get(), reinterpret_cast<PUCHAR>(upper.data()),
                                                     static_cast<ULONG>(upper.size() * sizeof(wchar_t)), 0));
  hashed = hashed && BCRYPT_SUCCESS(::BCryptFinishHash(hash.Get(), digest, sizeof digest, 0));
  if (!hashed) return {};
  std::wstring text = L"S-1-5-80";
  for (int i = 0; i < 5; ++i) {
    const unsigned long part = digest[4 * i] | digest[4 * i + 1] << 8 | digest[4 * i + 2] << 16 |
                               static_cast<unsigned long>(digest[4 * i + 3]) << 24;
    text += FormatText(L"-%lu", part);
  }
  return text;
}

std::wstring PrincipalNames(const std::vector<std::wstring>& names) {
  const std::wstring everyone = NameOf(kEveryone);
  if (std::find(names.begin(), names.end(), everyone) != names.end()) return everyone;
  std::wstring text;
  for (const std::wstring& name : names) text += (text.empty() ? L"" : L", ") + name;
  return text;
}

ResultChain JudgeFileAccess(const std::wstring& path, GroupAccess& access) {
  access = {};
  const FileHandle file(::CreateFileW(LongPathForm(path).c_str(), READ_CONTROL,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      /*lpSecurityAttributes=*/nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                      /*hTemplateFile=*/nullptr));
  if (!file.IsOpen()) return KV_MARK(LastErrorChain());
  SecurityDescriptor descriptor;
  KV_RETURN_IF_FAILED(
      descriptor.FromObject(file.Get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION));
  access = JudgeGroupAccess(descriptor.Get());
  return {};
}

}  // namespace kv
