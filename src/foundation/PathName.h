// PathName: a file path, folder path or download URL held as folder, name and extension.
//
// Accepts absolute paths, UNC paths, native "\??\" paths, "http://" and "https://" URLs,
// paths relative to the program's folder, and "default" (the program's own executable).
// Any text is accepted without crashing; only the empty text is refused.
#pragma once

#include <string>
#include <string_view>

#include "foundation/ResultChain.h"

namespace kv {

class PathName {
 public:
  PathName() = default;
  // Applies Set and discards its result; call Set to learn the outcome.
  explicit PathName(std::wstring_view text);

  // Takes a URL, UNC path, "\??\" path, drive path, "default" or a path relative to the
  // current folder (the program's folder when none is set yet). The empty text empties
  // all fields and fails with InvalidPath.
  ResultChain Set(std::wstring_view text);

  // Splits the text as a full path (folder = drive + directory). "default" is the
  // program's executable; the empty text fails with InvalidPath.
  ResultChain SetFullPath(std::wstring_view text);

  // SetFullPath of the program's executable path; InvalidPath when it is unknown.
  ResultChain SetDefault();

  // folder + name + extension (a URL comes back with "/" after a bare host).
  std::wstring FullPath() const;
  // name + extension, or the name alone.
  std::wstring FileName(bool withExtension = true) const;

  // Drive and directory with the trailing separator, or a URL up to its last "/".
  const std::wstring& Folder() const { return folder_; }
  // File name without extension; may be empty.
  const std::wstring& Name() const { return name_; }
  // Extension with its leading ".", or empty.
  const std::wstring& Extension() const { return extension_; }

  bool IsEmpty() const { return folder_.empty() && name_.empty() && extension_.empty(); }

 private:
  ResultChain SetUrl(std::wstring_view url);

  std::wstring folder_;
  std::wstring name_;
  std::wstring extension_;
};

// The parts of a path by the C runtime's split rules: drive ("C:") when the second
// character is ":", directory up to and including the last "\" or "/", extension from
// the last "." after that, file name in between. Handles any length.
struct SplitPathParts {
  std::wstring drive;
  std::wstring directory;
  std::wstring fileName;
  std::wstring extension;
};
SplitPathParts SplitPath(std::wstring_view path);

// The program executable's full path in long form, without a "\??\" prefix and with
// "\SystemRoot" expanded; empty when the system cannot say.
std::wstring ModulePath();

// The clean-up ModulePath applies to what the system reports: a leading "\??\" is
// removed, a leading "\SystemRoot" (any case) becomes the "systemroot" variable's
// value, then the long form is taken when the path exists.
std::wstring NormalizeModulePath(std::wstring path);

// GetLongPathNameW of `path` into `longPath`. A failure returns the system error and
// leaves `longPath` unchanged.
ResultChain LongPathName(const std::wstring& path, std::wstring& longPath);

// The absolute form of `path` as the system resolves it (GetFullPathNameW: a relative
// path against the current folder, a rooted one against the current drive), without a
// trailing separator; empty when the system cannot resolve it. A caller that checks a
// folder and then works in it resolves it once, so both mean the same folder.
std::wstring FullPathName(const std::wstring& path);

// The value of an environment variable, or empty text when it is not set.
std::wstring EnvironmentValue(const std::wstring& name);

}  // namespace kv
