// File and folder primitives of the update: whole small files, streamed copies and
// digests of large ones, and folder trees. Windows calls only; every failure carries
// the system's code.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "foundation/ResultChain.h"
#include "protect/Sha256.h"
#include "kernel/HandleHolder.h"

namespace kv::refengine {

bool FolderExists(const std::wstring& path);
bool PathExists(const std::wstring& path);

// Reads a file of at most 1 MiB (manifests), or of at most `maxBytes`; larger files fail
// with SizelimitOver (or `tooLong`).
ResultChain ReadWholeFile(const std::wstring& path, std::string& bytes);
ResultChain ReadWholeFile(const std::wstring& path, std::string& bytes, std::uint64_t maxBytes, ErrorCode tooLong);

// A file read at any position, shared with other readers (and with a delete, so that a
// folder holding it can still be swapped).
class FileReader {
 public:
  ResultChain Open(const std::wstring& path);
  ResultChain Size(std::uint64_t& size) const;
  // Reads exactly `size` bytes at `offset`; a file that ends before fails with
  // FileSizeMismatch.
  ResultChain ReadAt(std::uint64_t offset, char* data, std::size_t size) const;
  // ReadAt for `count` bytes from `first`, handed on piece by piece.
  ResultChain Stream(std::uint64_t first, std::uint64_t count,
                     const std::function<ResultChain(const char*, std::size_t)>& sink) const;

 private:
  HandleHolder file_{INVALID_HANDLE_VALUE};
};

// Creates `path` (it must not exist), writes the bytes and flushes them to the disk.
ResultChain WriteNewFile(const std::wstring& path, const std::string& bytes);

// Writes `bytes` as "<target>.<process id>.tmp" beside `target`, flushes it, and renames
// it over `target` in one step, so that a reader sees the old file or the new one whole,
// never a part. The temporary file is gone afterwards, also on failure.
ResultChain ReplaceWholeFile(const std::wstring& target, const std::string& bytes);

// ReplaceWholeFile with `text` as UTF-8 behind a byte-order mark: the records the engine
// keeps beside the definitions.
ResultChain ReplaceWithUtf8Text(const std::wstring& target, const std::wstring& text);

// A file written in pieces: created new (it must not exist), written, then flushed to
// the disk and closed by Finish. One left unfinished is closed, as it is, when the
// object goes; deleting it is the caller's clean-up.
class NewFile {
 public:
  ResultChain Create(const std::wstring& path);
  ResultChain Write(const char* data, std::size_t size);
  ResultChain Finish();

 private:
  HandleHolder file_{INVALID_HANDLE_VALUE};
};

// Copies `from` into the new file `to` and flushes it; `copied` receives the byte count
// and `digest`, when given, the SHA-256 of what was copied. A source longer than
// `maxBytes` is refused with FileSizeMismatch as soon as a read passes the bound, so a
// wrong or growing source never fills the disk. A source that cannot be opened fails
// with its system code.
ResultChain CopyToNewFile(const std::wstring& from, const std::wstring& to, std::uint64_t maxBytes,
                          std::uint64_t& copied, Digest256* digest = nullptr);

// The chain of a file that cannot be opened, with UncFileNotFound in front when the
// system says the file or its folder is missing.
ResultChain UnreadableFile(const ResultChain& cause);

// Size and SHA-256 of a file's content.
ResultChain DigestOfFile(const std::wstring& path, std::uint64_t& size, Digest256& digest);

// Deletes a folder and everything below it (read-only files included). Reparse points
// are removed, never followed. Success when the folder does not exist.
ResultChain RemoveFolderTree(const std::wstring& path);

}  // namespace kv::refengine
