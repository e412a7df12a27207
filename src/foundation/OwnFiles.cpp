#include "foundation/OwnFiles.h"

#include <aclapi.h>

#include "foundation/FileHandle.h"
#include "foundation/FileSystem.h"
#include "foundation/GroupAccess.h"
#include "foundation/SecurityDescriptor.h"

namespace kv {

std::wstring CreationSddl(Readers readers, bool folder) {
  std::wstring sddl = folder ? L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)" : L"D:P(A;;FA;;;SY)(A;;FA;;;BA)";
  if (readers == Readers::Users) sddl += folder ? L"(A;OICI;0x1200a9;;;BU)" : L"(A;;FR;;;BU)";
  return sddl;
}

ResultChain RefuseForeignLink(HANDLE entry) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(entry, &info)) return KV_MARK(LastErrorChain());
  if (!(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) return {};
  if (RefuseForeignOwner(entry).Failed()) return KV_MARK(ResultChain(kStoppedOnLink));
  return {};
}

ResultChain RefuseForeignOwner(HANDLE entry) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD read = ::GetSecurityInfo(entry, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                                       nullptr, &descriptor);
  const LocalMemory<PSECURITY_DESCRIPTOR> held(descriptor);
  if (read != ERROR_SUCCESS || !IsTrusted(SidText(owner))) return KV_MARK(ResultChain(ERROR_INVALID_OWNER));
  return {};
}

HANDLE OpenForWriting(const std::wstring& path, DWORD access, DWORD share, DWORD disposition, DWORD flags,
                      Readers readers) {
  SecurityDescriptor descriptor;
  if (ResultChain built = descriptor.FromSddl(CreationSddl(readers, /*folder=*/false)); built.Failed()) {
    ::SetLastError(built.Last());
    return INVALID_HANDLE_VALUE;
  }
  // The link rule needs the entry's attributes and owner, whatever the caller asked for.
  FileHandle handle(::CreateFileW(LongPathForm(path).c_str(), access | FILE_READ_ATTRIBUTES | READ_CONTROL, share,
                                  descriptor.Attributes(), disposition, flags | FILE_FLAG_OPEN_REPARSE_POINT,
                                  /*hTemplateFile=*/nullptr));
  if (!handle.IsOpen()) return INVALID_HANDLE_VALUE;
  const DWORD opened = ::GetLastError();  // ERROR_ALREADY_EXISTS tells an open from a creation
  if (const ResultChain refused = RefuseForeignLink(handle.Get()); refused.Failed()) {
    handle.Reset();
    ::SetLastError(kStoppedOnLink);
    return INVALID_HANDLE_VALUE;
  }
  ::SetLastError(opened);
  return handle.Detach();
}

ResultChain CreateOwnFolder(const std::wstring& path, Readers readers, bool mustBeNew) {
  SecurityDescriptor descriptor;
  KV_RETURN_IF_FAILED(descriptor.FromSddl(CreationSddl(readers, /*folder=*/true)));
  if (!::CreateDirectoryW(LongPathForm(path, PathKind::Folder).c_str(), descriptor.Attributes()) &&
      (mustBeNew || ::GetLastError() != ERROR_ALREADY_EXISTS)) {
    return KV_MARK(LastErrorChain());
  }
  KV_RETURN_IF_FAILED(CheckOwnFolder(path));
  return {};
}

ResultChain CheckOwnFolder(const std::wstring& path) {
  const FileHandle folder(::CreateFileW(LongPathForm(path, PathKind::Folder).c_str(),
                                        FILE_READ_ATTRIBUTES | READ_CONTROL,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!folder.IsOpen()) return KV_MARK(LastErrorChain());
  KV_RETURN_IF_FAILED(RefuseForeignLink(folder.Get()));
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(folder.Get(), &info)) return KV_MARK(LastErrorChain());
  if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return KV_MARK(ResultChain(ERROR_DIRECTORY));
  return {};
}

}  // namespace kv
