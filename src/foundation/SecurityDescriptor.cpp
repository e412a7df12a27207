#include "foundation/SecurityDescriptor.h"

#include <aclapi.h>
#include <sddl.h>

namespace kv {

ResultChain SecurityDescriptor::FromSddl(const std::wstring& sddl) {
  descriptor_.Reset();
  PSECURITY_DESCRIPTOR built = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &built,
                                                            /*SecurityDescriptorSize=*/nullptr)) {
    return KV_MARK(LastErrorChain());
  }
  descriptor_.Reset(built);
  return {};
}

ResultChain SecurityDescriptor::FromObject(HANDLE object, SE_OBJECT_TYPE type, SECURITY_INFORMATION parts) {
  descriptor_.Reset();
  PSECURITY_DESCRIPTOR read = nullptr;
  const DWORD error = ::GetSecurityInfo(object, type, parts, /*ppsidOwner=*/nullptr, /*ppsidGroup=*/nullptr,
                                        /*ppDacl=*/nullptr, /*ppSacl=*/nullptr, &read);
  if (error != ERROR_SUCCESS) return KV_MARK(ResultChain(error));
  descriptor_.Reset(read);
  return {};
}

SECURITY_ATTRIBUTES* SecurityDescriptor::Attributes() {
  if (!descriptor_.IsOpen()) return nullptr;
  attributes_ = {sizeof(attributes_), descriptor_.Get(), /*bInheritHandle=*/FALSE};
  return &attributes_;
}

std::wstring SecurityDescriptor::ToSddl(SECURITY_INFORMATION parts) const {
  if (!descriptor_.IsOpen()) return {};
  LPWSTR text = nullptr;
  if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor_.Get(), SDDL_REVISION_1, parts, &text,
                                                            /*StringSecurityDescriptorLen=*/nullptr)) {
    return {};
  }
  const LocalMemory<LPWSTR> owned(text);
  return text;
}

}  // namespace kv
