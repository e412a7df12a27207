#include "setup/InstallSecurity.h"

#include <aclapi.h>

#include "foundation/SecurityDescriptor.h"
#include "kernel/ScmHandle.h"

namespace kv::setup {

ResultChain SecureFolder(const std::wstring& path, const std::wstring& sddl) {
  SecurityDescriptor descriptor;
  KV_RETURN_IF_FAILED(descriptor.FromSddl(sddl));
  BOOL present = FALSE, defaulted = FALSE;
  PACL acl = nullptr;
  ::GetSecurityDescriptorDacl(descriptor.Get(), &present, &acl, &defaulted);
  std::wstring target = path;
  const DWORD error = ::SetNamedSecurityInfoW(target.data(), SE_FILE_OBJECT,
                                              DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                              /*psidOwner=*/nullptr, /*psidGroup=*/nullptr, acl, /*pSacl=*/nullptr);
  if (error != ERROR_SUCCESS) return KV_MARK(ResultChain(error));
  return {};
}

ResultChain SecureService(const wchar_t* name, const std::wstring& sddl) {
  SecurityDescriptor descriptor;
  KV_RETURN_IF_FAILED(descriptor.FromSddl(sddl));
  const ScmHandle manager(::OpenSCManagerW(/*lpMachineName=*/nullptr, /*lpDatabaseName=*/nullptr, SC_MANAGER_CONNECT));
  if (!manager.IsOpen()) return KV_MARK(LastErrorChain());
  const ScmHandle service(::OpenServiceW(manager.Get(), name, WRITE_DAC | READ_CONTROL));
  if (!service.IsOpen()) return KV_MARK(LastErrorChain());
  if (!::SetServiceObjectSecurity(service.Get(), DACL_SECURITY_INFORMATION, descriptor.Get())) {
    return KV_MARK(LastErrorChain());
  }
  return {};
}

}  // namespace kv::setup
