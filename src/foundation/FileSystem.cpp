#include "foundation/FileSystem.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "foundation/ErrorCodes.h"
#include "foundation/FileHandle.h"
#include "foundation/PathName.h"

namespace kv {

namespace {

constexpr int kSizeAttempts = 6;
constexpr DWORD kSharingRetryMs = 250;

}  // namespace

ResultChain IdentifyFile(const std::wstring& path, FileIdentity& identity, std::wstring* finalPath) {
  // No access asked for, and full sharing: only the identity is read, and nobody using
  // the file is disturbed. Backup semantics let a folder be opened at all.
  FileHandle file(::CreateFileW(LongPathForm(path, PathKind::Folder).c_str(), /*dwDesiredAccess=*/0,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                /*lpSecurityAttributes=*/nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                /*hTemplateFile=*/nullptr));
  if (!file.IsOpen()) return KV_MARK(LastErrorChain());
  BY_HANDLE_FILE_INFORMATION information{};
  if (!::GetFileInformationByHandle(file.Get(), &information)) return KV_MARK(LastErrorChain());
  identity = {information.dwVolumeSerialNumber, information.nFileIndexHigh, information.nFileIndexLow};
  if (finalPath != nullptr) *finalPath = FinalPathOf(file.Get());
  return {};
}

std::wstring FinalPathOf(void* file) {
  std::vector<wchar_t> buffer(MAX_PATH + 1, L'\0');
  DWORD length = ::GetFinalPathNameByHandleW(file, buffer.data(), static_cast<DWORD>(buffer.size()), 0);
  if (length >= buffer.size()) {
    buffer.assign(length + 1, L'\0');
    length = ::GetFinalPathNameByHandleW(file, buffer.data(), static_cast<DWORD>(buffer.size()), 0);
  }
  if (length == 0 || length >= buffer.size()) return {};
  return WithoutExtendedPrefix(std::wstring(buffer.data(), length));
}

ResultChain FileSize(const std::wstring& requested, std::uint64_t& size) {
  const std::wstring path = LongPathForm(requested);
  if (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) return KV_MARK(err::FileNotFound);

  HANDLE handle = INVALID_HANDLE_VALUE;
  for (int attempt = 1; attempt <= kSizeAttempts; ++attempt) {
    // Another program may hold the file open without sharing for a moment (a scanner,
    // a backup): wait for it, but only for that reason.
    if (attempt > 1) ::Sleep(kSharingRetryMs);
    handle = ::CreateFileW(path.c_str(), GENERIC_READ,
                           /*dwShareMode=*/FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           /*lpSecurityAttributes=*/nullptr, OPEN_EXISTING,
                           /*dwFlagsAndAttributes=*/FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS,
                           /*hTemplateFile=*/nullptr);
    if (handle != INVALID_HANDLE_VALUE || ::GetLastError() != ERROR_SHARING_VIOLATION) break;
  }
  FileHandle file(handle);
  if (!file.IsOpen()) {
    ResultChain chain = LastErrorChain();
    return KV_MARK(chain.Failed() ? chain : ResultChain(ERROR_GEN_FAILURE));
  }

  DWORD high = 0;
  // A low part of 0xFFFFFFFF is also a valid size: only the error tells them apart.
  ::SetLastError(NO_ERROR);
  const DWORD low = ::GetFileSize(file.Get(), &high);
  if (low == INVALID_FILE_SIZE && ::GetLastError() != NO_ERROR) return KV_MARK(LastErrorChain());
  size = (static_cast<std::uint64_t>(high) << 32) | low;
  return {};
}

}  // namespace kv
