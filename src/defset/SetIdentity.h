// What an installed set's files were when they were last known good: each file's size,
// last-write time and file ID, kept in a file beside the definition folder
// ("<Defs>.identities"), outside it like the highest-version record. A check that finds
// a file with the identity recorded for it takes its content as unchanged instead of
// reading it; every other file is hashed. Every "FullVerifyDays" all files are hashed
// again, because a write that puts the last-write time back leaves the identity as it
// was.
//
//   [SetIdentities]
//   Manifest=<64 hex digits: SHA-256 of the manifest bytes the identities belong to>
//   HashedAt=<when every file was last hashed: FILETIME, UTC, in decimal>
//   [Files]
//   virus.def=<size>,<last-write FILETIME>,<volume serial>,<file index>
//
// The file is only written under the update lock, whole and by rename. A record that
// is missing, damaged or belongs to another manifest only costs a full check.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "defset/DefinitionManifest.h"
#include "foundation/ResultChain.h"

namespace kv::refengine {

struct FileIdentity {
  std::uint64_t size = 0;
  std::uint64_t lastWrite = 0;
  std::uint32_t volume = 0;
  std::uint64_t index = 0;
  bool operator==(const FileIdentity&) const = default;
};

// The identity of the file at `path`, read without opening its content; `attributes`,
// when given, receives its attributes.
ResultChain IdentityOfFile(const std::wstring& path, FileIdentity& identity, DWORD* attributes = nullptr);

struct SetIdentities {
  Digest256 manifest{};
  std::uint64_t hashedAt = 0;
  // In the order of the manifest's files; empty entries for files without one.
  std::vector<std::pair<std::wstring, FileIdentity>> files;
};

// An empty record (zero manifest digest) when there is none or it cannot be read.
SetIdentities ReadSetIdentities(const std::wstring& path);
ResultChain RecordSetIdentities(const std::wstring& path, const SetIdentities& identities);

// What the check of an installed set found.
struct InstalledCheck {
  bool intact = false;
  // Per file of the manifest: its content was confirmed by this check, and the identity
  // it had then.
  std::vector<char> confirmed;
  std::vector<FileIdentity> identities;
  // When every file was last hashed (this check's time after a full one).
  std::uint64_t hashedAt = 0;
};

// Checks the files of the set in `folder` against `manifest` (whose bytes are
// `manifestBytes`), hashing only the files whose identity differs from the record at
// `recordPath`, or all of them when the record does not vouch for this manifest or its
// last full hash is `fullVerifyDays` days old or more (0: always). An intact set's
// record is brought up to date; failing to write it costs only a full check next time.
InstalledCheck CheckInstalledSet(const std::wstring& folder, const DefinitionManifest& manifest,
                                 const std::string& manifestBytes, const std::wstring& recordPath,
                                 unsigned fullVerifyDays);

// The current time as the record keeps it.
std::uint64_t IdentityClock();

}  // namespace kv::refengine
