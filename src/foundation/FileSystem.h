// File-system helpers on wide text: the canonical form of a path text and a size query
// that tolerates files briefly held open by other programs.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "foundation/ResultChain.h"

namespace kv {

// Canonical form of a path text: separators become "\", empty and "." components and
// "??" (the native "\??\" prefix) go, ".." removes the component before it (never the
// first one), a UNC path keeps its two leading backslashes, no trailing separator.
// 'C:/Logs/./old/../Service/' gives 'C:\Logs\Service'. Never fails; any text is accepted.
std::wstring NormalizePath(std::wstring_view path);

// What a path names, for LongPathForm: the classic limit is lower for a folder, whose
// path must leave room for an 8.3 file name inside it.
enum class PathKind { File, Folder };

// The form of a path to hand to the system's file calls; every file call on a path goes
// through it. A folder path of 248 units or more, or a file path of 260 (MAX_PATH) or
// more, is normalised and given the extended-length form: "C:\x" becomes "\\?\C:\x",
// "\\server\share\x" becomes "\\?\UNC\server\share\x". A relative path ("x", "\x", "C:x")
// is made full first and judged by its full length. Returned as they are: shorter
// paths, paths already in the "\\?\" or "\\.\" form, and long paths the extended form
// would change the meaning of (a ".." above the drive or share, a name ending in a
// dot or a space, which the system trims only without the prefix).
std::wstring LongPathForm(const std::wstring& path, PathKind kind = PathKind::File);

// A path in the usual form: "\\?\C:\x" as "C:\x" and "\\?\UNC\server\share" as
// "\\server\share"; any other path as it is.
std::wstring WithoutExtendedPrefix(std::wstring path);

// Size of a file. FileNotFound when the path does not exist. A file another program
// holds open without sharing is retried: six attempts in all, 250 ms apart, and only
// for ERROR_SHARING_VIOLATION; after that the system error with a line marker. Paths
// longer than the classic limit are accepted (LongPathForm).
ResultChain FileSize(const std::wstring& path, std::uint64_t& size);

// What makes a file or folder itself, whatever path leads to it: the volume's serial
// number and the file index. Two paths with equal identities name one object (a link
// and its target, a folder reached through a link above it).
struct FileIdentity {
  unsigned long volumeSerial = 0;
  unsigned long indexHigh = 0;
  unsigned long indexLow = 0;
  bool operator==(const FileIdentity&) const = default;
};

// The identity of the file or folder at `path` (links followed), and, when `finalPath`
// is given, the full path the system resolves it to (links resolved, no "\\?\"
// prefix; empty when the system cannot say). The system error when it cannot be opened.
ResultChain IdentifyFile(const std::wstring& path, FileIdentity& identity, std::wstring* finalPath = nullptr);

// The full path the system resolves an open file or folder to (links resolved, no
// "\\?\" prefix); empty when the system cannot say. `file` is a HANDLE.
std::wstring FinalPathOf(void* file);

}  // namespace kv
