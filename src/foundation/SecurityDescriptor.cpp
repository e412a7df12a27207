#include "foundation/SecurityDescriptor.h"

#include <aclapi.h>
#include <sddl.h>

#include <utility>

namespace kv {

SecurityDescriptor::~SecurityDescriptor() {
  if (descriptor_ != nullptr) LocalFree(descriptor_);
}

SecurityDescriptor::SecurityDescriptor(SecurityDescriptor&& other) noexcept
    : descriptor_(std::exchange(other.descriptor_, nullptr)) {}

SecurityDescriptor& SecurityDescriptor::operator=(SecurityDescriptor&& other) noexcept {
  if (this != &other) {
    if (descriptor_ != nullptr) LocalFree(descriptor_);
    descriptor_ = std::exchange(other.descriptor_, nullptr);
  }
  return *this;
}

ResultChain SecurityDescriptor::FromSddl(const std::wstring& sddl) {
  if (descriptor_ != nullptr) LocalFree(std::exchange(descriptor_, nullptr));
  PSECURITY_DESCRIPTOR built = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &built,
                                                            /*SecurityDescriptorSize=*/nullptr)) {
    return KV_MARK(LastErrorChain());
  }
  descriptor_ = built;
  return {};
}

ResultChain SecurityDescriptor::FromObject(HANDLE object, SE_OBJECT_TYPE type, SECURITY_INFORMATION parts) {
  if (descriptor_ != nullptr) LocalFree(std::exchange(descriptor_, nullptr));
  PSECURITY_DESCRIPTOR read = nullptr;
  const DWORD error = ::GetSecurityInfo(object, type, parts, /*ppsidOwner=*/nullptr, /*ppsidGroup=*/nullptr,
                                        /*ppDacl=*/nullptr, /*ppSacl=*/nullptr, &read);
  if (error != ERROR_SUCCESS) return KV_MARK(ResultChain(error));
  descriptor_ = read;
  return {};
}

SECURITY_ATTRIBUTES* SecurityDescriptor::Attributes() {
  if (descriptor_ == nullptr) return nullptr;
  attributes_ = {sizeof(attributes_), descriptor_, /*bInheritHandle=*/FALSE};
  return &attributes_;
}

std::wstring SecurityDescriptor::ToSddl(SECURITY_INFORMATION parts) const {
  if (descriptor_ == nullptr) return {};
  LPWSTR text = nullptr;
  if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor_, SDDL_REVISION_1, parts, &text,
                                                            /*StringSecurityDescriptorLen=*/nullptr)) {
    return {};
  }
  std::wstring result(text);
  LocalFree(text);
  return result;
}

}  // namespace kv
