// The forms of a path text the file calls are given: canonical, and extended-length for
// long paths. Text only: nothing here touches the file system, so the parsers' fuzzers
// build it as it is.
#include <windows.h>

#include <algorithm>
#include <vector>

#include "foundation/FileSystem.h"
#include "foundation/PathName.h"

namespace kv {

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

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

}  // namespace kv
