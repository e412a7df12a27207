#include "foundation/PathName.h"

#include <windows.h>

#include <cwctype>
#include <vector>

#include "foundation/ErrorCodes.h"
#include "foundation/FileSystem.h"

namespace kv {

namespace {

constexpr std::wstring_view kHttp = L"http://";
constexpr std::wstring_view kHttps = L"https://";
constexpr std::wstring_view kNativePrefix = L"\\??\\";
constexpr std::wstring_view kDefault = L"default";

bool StartsWith(std::wstring_view text, std::wstring_view prefix) { return text.substr(0, prefix.size()) == prefix; }

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Lower case, for the case-blind prefix comparison of module paths.
std::wstring Lower(std::wstring_view text) {
  std::wstring lower(text);
  for (wchar_t& c : lower) c = static_cast<wchar_t>(std::towlower(c));
  return lower;
}

// Calls `query(buffer, size)` (a Windows call that returns the length it wrote, or the
// size it needs when the buffer is too small, or 0 on failure) with a growing buffer.
// The system's paths and variables are at most 32767 units long; the buffer grows until
// one of that length fits.
template <typename Query>
bool QueryText(std::size_t initial, Query query, std::wstring& out) {
  std::vector<wchar_t> buffer(initial + 1, L'\0');
  for (;;) {
    const DWORD result = query(buffer.data(), static_cast<DWORD>(buffer.size() - 1));
    if (result == 0) return false;
    if (result < buffer.size() - 1) {
      out.assign(buffer.data(), result);
      return true;
    }
    if (buffer.size() > 40000) return false;
    buffer.assign(std::max<std::size_t>(result, buffer.size() * 2) + 2, L'\0');
  }
}

// Slashes in `url` with every "//" read as one (a run of n slashes counts as its pairs
// plus a lone last one), in one pass.
std::size_t CollapsedSlashes(std::wstring_view url) {
  std::size_t count = 0;
  std::size_t run = 0;
  for (wchar_t c : url) {
    if (c == L'/') {
      ++run;
      continue;
    }
    count += (run + 1) / 2;
    run = 0;
  }
  return count + (run + 1) / 2;
}

}  // namespace

SplitPathParts SplitPath(std::wstring_view path) {
  SplitPathParts parts;
  if (path.size() >= 2 && path[1] == L':') {
    parts.drive.assign(path.substr(0, 2));
    path.remove_prefix(2);
  }
  std::size_t nameStart = 0;
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (IsSeparator(path[i])) nameStart = i + 1;
  }
  parts.directory.assign(path.substr(0, nameStart));
  const std::wstring_view file = path.substr(nameStart);
  const std::size_t dot = file.rfind(L'.');
  if (dot == std::wstring_view::npos) {
    parts.fileName.assign(file);
  } else {
    parts.fileName.assign(file.substr(0, dot));
    parts.extension.assign(file.substr(dot));
  }
  return parts;
}

PathName::PathName(std::wstring_view text) { (void)Set(text); }  // IsEmpty tells a failure

ResultChain PathName::Set(std::wstring_view text) {
  if (text.empty()) {
    folder_.clear();
    name_.clear();
    extension_.clear();
    return KV_MARK(err::InvalidPath);
  }
  if ((text.size() > kHttp.size() && StartsWith(text, kHttp)) ||
      (text.size() > kHttps.size() && StartsWith(text, kHttps))) {
    return SetUrl(text);
  }
  if (text.size() > 2 && text[0] == L'\\' && text[1] == L'\\') return SetFullPath(text);
  if (text.size() > kNativePrefix.size() && StartsWith(text, kNativePrefix)) {
    return SetFullPath(text.substr(kNativePrefix.size()));
  }
  // A relative path starts from the program's folder when no folder is set yet.
  if (folder_.empty()) (void)SetDefault();  // unknown: the path stays relative
  if (text == kDefault) return SetDefault();

  const SplitPathParts parts = SplitPath(text);
  if (!parts.drive.empty()) return SetFullPath(text);
  if (!parts.directory.empty()) {
    const std::size_t first = parts.directory.find_first_not_of(L"/\\");
    if (first != std::wstring::npos) folder_ += parts.directory.substr(first);
    name_.clear();
    extension_.clear();
  }
  if (!parts.fileName.empty()) name_ = parts.fileName;
  extension_ = parts.extension;
  return {};
}

ResultChain PathName::SetFullPath(std::wstring_view text) {
  folder_.clear();
  name_.clear();
  extension_.clear();
  if (text == kDefault) return SetDefault();
  if (text.empty()) return KV_MARK(err::InvalidPath);
  SplitPathParts parts = SplitPath(text);
  folder_ = parts.drive + parts.directory;
  name_ = std::move(parts.fileName);
  extension_ = std::move(parts.extension);
  return {};
}

ResultChain PathName::SetDefault() {
  const std::wstring module = ModulePath();
  // Never "default" itself: a module path is always a full path.
  if (module.empty() || module == kDefault) {
    folder_.clear();
    name_.clear();
    extension_.clear();
    return KV_MARK(err::InvalidPath);
  }
  return SetFullPath(module);
}

ResultChain PathName::SetUrl(std::wstring_view url) {
  name_.clear();
  extension_.clear();
  if (url.back() == L'/') {
    folder_.assign(url);
    return {};
  }
  // Count the components as the URL's "//" were single separators.
  const std::size_t components = 1 + CollapsedSlashes(url);
  if (components >= 3) {
    const std::size_t slash = url.rfind(L'/');
    folder_.assign(url.substr(0, slash + 1));
    const std::wstring_view file = url.substr(slash + 1);
    const std::size_t dot = file.rfind(L'.');
    // A query may hold dots that are no extension.
    if (dot == std::wstring_view::npos || file.find(L'?') != std::wstring_view::npos) {
      name_.assign(file);
    } else {
      name_.assign(file.substr(0, dot));
      extension_.assign(file.substr(dot));
    }
    return {};
  }
  folder_.assign(url);
  if (components == 2) folder_ += L'/';
  return {};
}

std::wstring PathName::FullPath() const { return folder_ + name_ + extension_; }

std::wstring PathName::FileName(bool withExtension) const { return withExtension ? name_ + extension_ : name_; }

std::wstring ModulePath() {
  std::wstring path;
  const bool ok = QueryText(MAX_PATH, [](wchar_t* buffer, DWORD size) {
    const DWORD n = ::GetModuleFileNameW(/*hModule=*/nullptr, buffer, size);
    // A truncated name returns the full size: ask for a larger buffer.
    return n >= size ? size + 1 : n;
  }, path);
  if (!ok) return {};
  return NormalizeModulePath(std::move(path));
}

std::wstring NormalizeModulePath(std::wstring path) {
  if (path.size() > 4 && StartsWith(path, kNativePrefix)) path.erase(0, kNativePrefix.size());
  if (path.size() > 4 && path[0] == L'\\' && Lower(std::wstring_view(path).substr(0, 11)) == L"\\systemroot") {
    path.replace(0, 11, EnvironmentValue(L"systemroot"));
  }
  std::wstring longPath;
  if (!LongPathName(path, longPath).Failed()) return longPath;
  return path;
}

ResultChain LongPathName(const std::wstring& path, std::wstring& longPath) {
  std::wstring result;
  const std::wstring query = LongPathForm(path, PathKind::Folder);
  const bool ok = QueryText(MAX_PATH, [&query](wchar_t* buffer, DWORD size) {
    return ::GetLongPathNameW(query.c_str(), buffer, size);
  }, result);
  if (!ok) {
    ResultChain chain = LastErrorChain();
    return chain.Failed() ? chain : ResultChain(ERROR_INSUFFICIENT_BUFFER);
  }
  // The caller's form comes back: the extended prefix was only the way to the system.
  longPath = query == path ? std::move(result) : WithoutExtendedPrefix(std::move(result));
  return {};
}

std::wstring FullPathName(const std::wstring& path) {
  if (path.empty()) return {};
  std::wstring full;
  if (!QueryText(MAX_PATH, [&path](wchar_t* buffer, DWORD size) {
        return ::GetFullPathNameW(path.c_str(), size, buffer, /*lpFilePart=*/nullptr);
      }, full)) {
    return {};
  }
  // A root keeps its separator ("C:"); anything longer drops it.
  while (full.size() > 3 && IsSeparator(full.back())) full.pop_back();
  return full;
}

std::wstring EnvironmentValue(const std::wstring& name) {
  std::wstring value;
  if (!QueryText(MAX_PATH, [&name](wchar_t* buffer, DWORD size) {
        return ::GetEnvironmentVariableW(name.c_str(), buffer, size);
      }, value)) {
    return {};
  }
  return value;
}

}  // namespace kv
