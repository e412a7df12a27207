// The reference engine's own failure and step codes, family 0x7EC1. Their names travel
// to the service through "ReadErrorTable" (EngineNameTable.cpp); codes the service
// already knows by name come from foundation/ErrorCodes.h instead.
#pragma once

#include "foundation/ResultChain.h"

namespace kv::refengine {

constexpr ErrorCode ReferenceEngineBase = 0x7EC10000;

// Settings the update cannot do without.
constexpr ErrorCode DefDatFolderNotSet = 0x7EC10001;
constexpr ErrorCode UpdateUncNotSet = 0x7EC10002;
// The source folder itself is missing or is not a folder.
constexpr ErrorCode UncFolderNotFound = 0x7EC10003;
// Manifest details, each reported under UncIniInvalidFormat.
constexpr ErrorCode ManifestUnsafeName = 0x7EC10004;
constexpr ErrorCode ManifestBadEntry = 0x7EC10005;
constexpr ErrorCode ManifestNoVersion = 0x7EC10006;
constexpr ErrorCode ManifestNoFiles = 0x7EC10007;
// A file whose size differs from the manifest.
constexpr ErrorCode FileSizeMismatch = 0x7EC10008;
// The destination names no folder that can be swapped (a drive root, for example).
constexpr ErrorCode InvalidDefDatFolder = 0x7EC10009;

// Steps, so that a chain says where an update stopped.
constexpr ErrorCode StepRecoverFolders = 0x7EC10010;
constexpr ErrorCode StepVerifyStagedSet = 0x7EC10011;
constexpr ErrorCode StepTakeUpdateLock = 0x7EC10012;

}  // namespace kv::refengine
