// SecurityDescriptor: the owner of a self-relative security descriptor built from SDDL.
//
// Access lists are written as SDDL text, the form administrators read in `icacls` and
// `sc sdshow`, and turned into a descriptor once; the owner frees it with LocalFree.
// Move-only.
#pragma once

#include <windows.h>

#include <accctrl.h>

#include <string>

#include "foundation/ResultChain.h"
#include "foundation/UniqueOwner.h"

namespace kv {

// For memory the security functions hand out (ConvertSidToStringSidW, GetSecurityInfo).
template <typename T>
using LocalMemory = UniqueOwner<T, &::LocalFree>;

class SecurityDescriptor {
 public:
  SecurityDescriptor() = default;

  // Replaces the held descriptor with one built from `sddl`. The system error (with a
  // line marker) when the text is not valid SDDL; the holder is then empty.
  ResultChain FromSddl(const std::wstring& sddl);

  // Replaces the held descriptor with the given parts (OWNER_SECURITY_INFORMATION, …)
  // of an open object's descriptor, as GetSecurityInfo reads them. The system error
  // (with a line marker) when they cannot be read; the holder is then empty.
  ResultChain FromObject(HANDLE object, SE_OBJECT_TYPE type, SECURITY_INFORMATION parts);

  bool IsEmpty() const { return !descriptor_.IsOpen(); }
  PSECURITY_DESCRIPTOR Get() const { return descriptor_.Get(); }

  // Attributes for a Create… call (not inheritable); they point into this holder, which
  // must outlive the call. Null attributes when the holder is empty.
  SECURITY_ATTRIBUTES* Attributes();

  // The descriptor as SDDL for the given parts (OWNER_SECURITY_INFORMATION, …), for
  // messages and tests; empty text when the holder is empty or the system cannot say.
  std::wstring ToSddl(SECURITY_INFORMATION parts) const;

 private:
  LocalMemory<PSECURITY_DESCRIPTOR> descriptor_;
  SECURITY_ATTRIBUTES attributes_{};
};

}  // namespace kv
