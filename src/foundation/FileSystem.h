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

// The form of a path to hand to the system's file calls. A drive path of MAX_PATH (260)
// units or more is normalised and given the "\\?\" prefix, which lifts the classic
// length limit; every other path is returned as it is.
std::wstring LongPathForm(const std::wstring& path);

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
