// Building a definition set in the staging folder and proving it complete.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include <vector>

#include "SetSource.h"
#include "defset/DefinitionManifest.h"
#include "defset/SetIdentity.h"
#include "foundation/ResultChain.h"

namespace kv::refengine {

// What staging moved: files fetched from the source and their bytes, and files taken
// from the installed set instead (`linkedFiles` of them as hard links, the rest copied).
struct StagingCounts {
  unsigned fetchedFiles = 0;
  std::uint64_t fetchedBytes = 0;
  unsigned reusedFiles = 0;
  unsigned linkedFiles = 0;
  // Fetched files built from chunks the machine had and ranges of the published file.
  unsigned assembledFiles = 0;
  unsigned patchedFiles = 0;     // decoded from a patch against the earlier file
  unsigned compressedFiles = 0;  // decoded from the compressed copy
};

// What staging knows of each file it placed: the size and digest of the bytes as they
// were written (or, for a link, as the installed file was confirmed to hold), and the
// staged file's identity.
struct StagedFile {
  std::uint64_t size = 0;
  Digest256 digest{};
  FileIdentity identity;
};

// Creates `staging` (it must not exist yet) and puts every file `set` lists into it.
// A file the installed set in `current` lists with the same name, size and digest is
// taken from there: as a hard link when `check` confirmed its content and it still has
// the identity it had then, else (another volume, no links on the file system, a
// read-only file, any refusal) as a copy whose digest is checked on the way. Every other
// file, and one whose installed copy fails that check, is fetched from `source`, hashed
// as it streams to the disk: only the chunks that neither the installed file of that
// name nor a part kept in `partial` holds, where the set publishes a chunk index
// (DeltaFetch.h). A link shares the installed file's content, so nothing
// ever writes into a staged or installed file: files are only ever created new, and
// the swap only renames folders. The signature and origin follow, and the manifest
// comes last, so that a staging folder with a manifest holds every file. `pauseMs` is
// slept after each file (a test aid that makes the copy slow enough to interrupt).
ResultChain StageDefinitionSet(SetSource& source, const PublishedSet& set, const DefinitionManifest& installed,
                               const InstalledCheck& check, const std::wstring& current, const std::wstring& staging,
                               const std::wstring& partial, DWORD pauseMs, StagingCounts& counts, std::vector<StagedFile>& staged);

// Compares what staging recorded of each file with the manifest, without reading the
// files again: FileSizeMismatch or ErrorUncHashCompare for the first difference.
ResultChain CheckStagedSet(const DefinitionManifest& manifest, const std::vector<StagedFile>& staged);

// Reads every listed file of `folder` back and compares its size and SHA-256 with the
// manifest. The first difference ends the check with UncFileNotFound, FileSizeMismatch
// or ErrorUncHashCompare.
ResultChain VerifyDefinitionSet(const std::wstring& folder, const DefinitionManifest& manifest);

}  // namespace kv::refengine
