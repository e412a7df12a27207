#include "foundation/PrivateFileAccess.h"

namespace kv {

std::wstring PrivateFileSddl(const std::wstring& ownerSid) {
  return L"O:" + ownerSid + L"D:P(A;;FA;;;" + ownerSid + L")(A;;FA;;;BA)";
}

std::wstring PrivateFileIcaclsLine(const std::wstring& path) {
  return L"icacls \"" + path +
         L"\" /inheritance:r /remove:g *S-1-5-32-545 *S-1-5-11 *S-1-5-4 *S-1-1-0"
         L" /grant:r *S-1-5-18:F *S-1-5-32-544:F";
}

}  // namespace kv
