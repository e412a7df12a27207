// Building a definition set in the staging folder and proving it complete.
#pragma once

#include <windows.h>

#include <string>

#include "DefinitionManifest.h"
#include "foundation/ResultChain.h"

namespace kv::refengine {

// Creates `staging` (it must not exist yet), copies every listed file of `source` into
// it and then writes `manifestBytes` as the manifest, last, so that a staging folder
// with a manifest holds every file. `pauseMs` is slept after each file (a test aid that
// makes the copy slow enough to interrupt). UncFileNotFound for a listed file that the
// source lacks, FileSizeMismatch for a copy whose length differs from the manifest.
ResultChain StageDefinitionSet(const std::wstring& source, const DefinitionManifest& manifest,
                               const std::string& manifestBytes, const std::wstring& staging, DWORD pauseMs);

// Reads every listed file of `folder` back and compares its size and SHA-256 with the
// manifest. The first difference ends the check with UncFileNotFound, FileSizeMismatch
// or ErrorUncHashCompare.
ResultChain VerifyDefinitionSet(const std::wstring& folder, const DefinitionManifest& manifest);

}  // namespace kv::refengine
