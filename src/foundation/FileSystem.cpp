#include "foundation/FileSystem.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "foundation/ErrorCodes.h"
#include "foundation/PathName.h"

namespace kv {

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Owner of a file handle; closing keeps the thread's last error for the caller.
class FileHandle {
 public:
  explicit FileHandle(HANDLE handle) : handle_(handle) {}
  ~FileHandle() {
    if (handle_ == INVALID_HANDLE_VALUE) return;
    const DWORD error = ::GetLastError();
    ::CloseHandle(handle_);
    ::SetLastError(error);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  HANDLE Get() const { return handle_; }
  bool IsValid() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

constexpr int kSizeAttempts = 6;
constexpr DWORD kSharingRetryMs = 250;

}  // namespace

std::wstring NormalizePath(std::wstring_view path) {
  const bool unc = path.size() >= 2 && path[0] == L'\\' && path[1] == L'\\';

  // Components in order, with the native prefix's "??" dropped on the way; empty and
  // "." components carry nothing and go too.
  std::vector<std::wstring_view> kept;
  if (unc) kept.emplace_back(L"\\");
  std::size_t start = 0;
  for (std::size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size() && !IsSeparator(path[i])) continue;
    const std::wstring_view component = path.substr(start, i - start);
    start = i + 1;
    if (component.empty() || component == L"." || component == L"??") continue;
    if (component == L"..") {
      // The first component (drive, UNC root or first folder) is never climbed out of.
      if (kept.size() > 1) kept.pop_back();
      continue;
    }
    kept.push_back(component);
  }

  std::wstring result;
  for (std::size_t i = 0; i < kept.size(); ++i) {
    if (i > 0) result += L'\\';
    result += kept[i];
  }
  return result;
}

namespace {

// A folder's path must leave room for an 8.3 name inside it within the classic limit.
constexpr std::size_t kFolderPathLimit = MAX_PATH - 12;

bool IsDevicePath(const std::wstring& path) {
  return path.size() >= 4 && IsSeparator(path[0]) && IsSeparator(path[1]) && (path[2] == L'?' || path[2] == L'.') &&
         IsSeparator(path[3]);
}

bool IsDrivePath(const std::wstring& path) {
  return path.size() >= 3 && ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z')) &&
         path[1] == L':' && IsSeparator(path[2]);
}

bool IsUncPath(const std::wstring& path) { return path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1]); }

// True when NormalizePath names the same object the system would: the extended form
// is taken literally, so a ".." above the root (the drive, or the UNC server and share)
// would be clamped where the system fails, and a name ending in a dot or a space would
// be created as such where the system trims it.
bool NormalizingKeepsMeaning(std::wstring_view path, std::size_t rootDepth) {
  std::size_t depth = 0;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size() && !IsSeparator(path[i])) continue;
    const std::wstring_view component = path.substr(start, i - start);
    start = i + 1;
    if (component.empty() || component == L".") continue;
    if (component == L"..") {
      if (depth <= rootDepth) return false;
      --depth;
      continue;
    }
    if (component.back() == L'.' || component.back() == L' ') return false;
    ++depth;
  }
  return depth >= rootDepth;
}

}  // namespace

std::wstring LongPathForm(const std::wstring& path, PathKind kind) {
  if (IsDevicePath(path)) return path;
  std::wstring full = path;
  if (!IsDrivePath(full) && !IsUncPath(full)) {
    full = FullPathName(path);
    if (IsDevicePath(full)) return path;
  }
  const std::size_t limit = kind == PathKind::Folder ? kFolderPathLimit : MAX_PATH;
  if (full.size() < limit) return path;
  const bool unc = !IsDrivePath(full);
  if (unc && !IsUncPath(full)) return path;
  if (!NormalizingKeepsMeaning(full, unc ? 2 : 1)) return path;
  std::replace(full.begin(), full.end(), L'/', L'\\');  // "//server/share" is UNC too
  const std::wstring normal = NormalizePath(full);
  return unc ? L"\\\\?\\UNC\\" + normal.substr(2) : L"\\\\?\\" + normal;
}

std::wstring WithoutExtendedPrefix(std::wstring path) {
  if (path.rfind(L"\\\\?\\UNC\\", 0) == 0) return L"\\\\" + path.substr(8);
  if (path.rfind(L"\\\\?\\", 0) == 0) return path.substr(4);
  return path;
}

ResultChain IdentifyFile(const std::wstring& path, FileIdentity& identity, std::wstring* finalPath) {
  // No access asked for, and full sharing: only the identity is read, and nobody using
  // the file is disturbed. Backup semantics let a folder be opened at all.
  FileHandle file(::CreateFileW(LongPathForm(path, PathKind::Folder).c_str(), /*dwDesiredAccess=*/0,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                /*lpSecurityAttributes=*/nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                /*hTemplateFile=*/nullptr));
  if (!file.IsValid()) return KV_MARK(LastErrorChain());
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
  if (!file.IsValid()) {
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
