#include "kernel/NamedObject.h"

#include <aclapi.h>
#include <sddl.h>

#include <vector>

#include "foundation/ErrorCodes.h"
#include "foundation/SecurityDescriptor.h"

namespace kv {

namespace {

constexpr wchar_t kSystemSid[] = L"S-1-5-18";
constexpr wchar_t kAdministratorsSid[] = L"S-1-5-32-544";

std::wstring SidText(PSID sid) {
  LPWSTR text = nullptr;
  if (sid == nullptr || !::ConvertSidToStringSidW(sid, &text)) return {};
  const LocalMemory<LPWSTR> owned(text);
  return text;
}

// The owner of an open object; empty when it has none (Wine keeps an object made without
// a descriptor without any) or it cannot be read.
std::wstring OwnerOf(HANDLE object) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (::GetSecurityInfo(object, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                        &descriptor) != ERROR_SUCCESS) {
    return {};
  }
  const LocalMemory<PSECURITY_DESCRIPTOR> held(descriptor);
  return SidText(owner);
}

// An unprivileged user can make neither SYSTEM nor Administrators an object's owner,
// and this process's own account only itself.
bool IsTrustedOwner(const std::wstring& owner, const std::wstring& user) {
  if (owner.empty()) return false;
  return owner == kSystemSid || owner == kAdministratorsSid || owner == user;
}

HANDLE CreateObject(NamedObjectType type, const std::wstring& name, SECURITY_ATTRIBUTES* security) {
  if (type == NamedObjectType::Mutex) return ::CreateMutexW(security, /*bInitialOwner=*/FALSE, name.c_str());
  return ::CreateEventW(security, /*bManualReset=*/TRUE, /*bInitialState=*/FALSE, name.c_str());
}

}  // namespace

std::wstring ProcessUserSid() {
  HandleHolder token;
  HANDLE raw = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) return {};
  (void)token.Attach(raw);  // a valid handle is always taken
  DWORD size = 0;
  (void)::GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
  if (size == 0) return {};
  std::vector<unsigned char> buffer(size);
  if (!::GetTokenInformation(token.Get(), TokenUser, buffer.data(), size, &size)) return {};
  return SidText(reinterpret_cast<const TOKEN_USER*>(buffer.data())->User.Sid);
}

ResultChain CreateNamedObject(NamedObjectType type, const std::wstring& name, const std::wstring& dacl,
                              HandleHolder& holder, ForeignObject* refused) {
  (void)holder.Close();  // the old handle is given up either way
  if (name.empty()) return KV_MARK(err::InvalidArgument);
  const std::wstring user = ProcessUserSid();
  // The owner is named rather than left to the token's default: where the system keeps
  // a descriptor exactly as given, an object without one would have no owner at all,
  // and the service's next start could not tell it for its own.
  SecurityDescriptor descriptor;
  ResultChain built = descriptor.FromSddl((user.empty() ? L"" : L"O:" + user) + dacl);
  if (built.Failed()) return KV_MARK(built);

  DWORD error = 0;
  ResultChain attached = holder.Attach(CreateObject(type, name, descriptor.Attributes()), &error);
  ResultChain foreign;
  std::wstring owner;
  if (attached.Failed()) {
    // Denied: the name's owner keeps this process out. Invalid handle: the name belongs
    // to an object of another type. Either way it is taken, and not by the service.
    if (error != ERROR_ACCESS_DENIED && error != ERROR_INVALID_HANDLE) return KV_MARK(attached);
    foreign = KV_MARK(ResultChain(err::AlreadyMaked) + ResultChain(error));
  } else if (error == ERROR_ALREADY_EXISTS) {
    owner = OwnerOf(holder.Get());
    if (IsTrustedOwner(owner, user)) return {};
    (void)holder.Close();  // the foreign object is given up either way
    foreign = KV_MARK(err::AlreadyMaked);
  } else {
    return {};
  }
  if (refused != nullptr) *refused = ForeignObject{type, name, owner, foreign};
  return foreign;
}

bool IsForeignObject(const ResultChain& result) { return result.Contains(err::AlreadyMaked); }

ResultChain CreateServiceEvent(const std::wstring& name, HandleHolder& holder, ForeignObject& refused) {
  refused = ForeignObject{};
  ResultChain created = CreateNamedObject(NamedObjectType::Event, name, kServiceEventAccess, holder, &refused);
  if (!IsForeignObject(created)) return created;
  // Nobody outside can reach an unnamed event: the service's stop checks and its
  // initialisation signal go on working, only other programs no longer see them.
  ResultChain own = holder.Attach(
      ::CreateEventW(/*lpEventAttributes=*/nullptr, /*bManualReset=*/TRUE, /*bInitialState=*/FALSE, nullptr));
  if (own.Failed()) return KV_MARK(own);
  return {};
}

}  // namespace kv
