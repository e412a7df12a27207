// Building a definition set in the staging folder and proving it complete.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "DefinitionManifest.h"
#include "SetSource.h"
#include "foundation/ResultChain.h"

namespace kv::refengine {

// What staging moved: files fetched from the source and their bytes, and files taken
// from the installed set instead.
struct StagingCounts {
  unsigned fetchedFiles = 0;
  std::uint64_t fetchedBytes = 0;
  unsigned reusedFiles = 0;
};

// Creates `staging` (it must not exist yet) and puts every file `set` lists into it.
// A file the installed set in `current` lists with the same name, size and digest is
// copied from there, its digest checked on the way; every other file, and one whose
// installed copy fails that check, is fetched from `source`. The signature and origin
// follow, and the manifest comes last, so that a staging folder with a manifest holds
// every file. `pauseMs` is slept after each file (a test aid that makes the copy slow
// enough to interrupt).
ResultChain StageDefinitionSet(SetSource& source, const PublishedSet& set, const DefinitionManifest& installed,
                               const std::wstring& current, const std::wstring& staging, DWORD pauseMs,
                               StagingCounts& counts);

// Reads every listed file of `folder` back and compares its size and SHA-256 with the
// manifest. The first difference ends the check with UncFileNotFound, FileSizeMismatch
// or ErrorUncHashCompare.
ResultChain VerifyDefinitionSet(const std::wstring& folder, const DefinitionManifest& manifest);

}  // namespace kv::refengine
