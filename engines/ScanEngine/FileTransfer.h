// File and folder primitives of the update: whole small files, streamed copies and
// digests of large ones, and folder trees. Windows calls only; every failure carries
// the system's code.
#pragma once

#include <cstdint>
#include <string>

#include "foundation/ResultChain.h"
#include "protect/Sha256.h"

namespace kv::refengine {

bool FolderExists(const std::wstring& path);
bool PathExists(const std::wstring& path);

// Reads a file of at most 1 MiB (manifests); larger files fail with SizelimitOver.
ResultChain ReadWholeFile(const std::wstring& path, std::string& bytes);

// Creates `path` (it must not exist), writes the bytes and flushes them to the disk.
ResultChain WriteNewFile(const std::wstring& path, const std::string& bytes);

// Copies `from` into the new file `to` and flushes it; `copied` receives the byte count.
// A source that cannot be opened fails with its system code.
ResultChain CopyToNewFile(const std::wstring& from, const std::wstring& to, std::uint64_t& copied);

// Size and SHA-256 of a file's content.
ResultChain DigestOfFile(const std::wstring& path, std::uint64_t& size, Digest256& digest);

// Deletes a folder and everything below it (read-only files included). Reparse points
// are removed, never followed. Success when the folder does not exist.
ResultChain RemoveFolderTree(const std::wstring& path);

}  // namespace kv::refengine
