// Fetching a file as a published zstd object that decodes to it: its compressed copy, or
// a patch from the earlier version the machine has. The output is a mapping of the new
// file and the reference a read-only mapping of the earlier one, so a patch of any size
// costs the process only the decoder's tables in private memory.
#pragma once

#include <cstdint>
#include <string>

#include "SetSource.h"
#include "defset/DefinitionManifest.h"
#include "foundation/ResultChain.h"

namespace kv::refengine {

// Writes `file` as the new file `target` from the object `folder`\`name` the manifest
// lists as `object`, decoded against `reference` (empty: a compressed copy). `digest`
// receives the SHA-256 of the bytes written, `received` the bytes read from the source.
// The object's own size and digest are checked as well as the decoded size; a failure
// leaves `target` holding what was decoded before it (the caller deletes it or keeps it
// as a part).
ResultChain FetchPacked(SetSource& source, const ManifestFile& file, const wchar_t* folder, const std::wstring& name,
                        const PackedObject& object, const std::wstring& reference, const std::wstring& target,
                        Digest256& digest, std::uint64_t& received);

}  // namespace kv::refengine
