// Fetching a changed file as only what the machine does not already have: the chunks
// (ChunkIndex.h) it shares with the installed file of that name, or with what a cut
// transfer kept, are copied from there, and only the missing byte ranges of the
// published file are fetched.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "SetSource.h"
#include "defset/DefinitionManifest.h"
#include "foundation/ResultChain.h"

namespace kv::refengine {

// What fetching one file cost.
struct FetchedFile {
  std::uint64_t bytes = 0;  // read from the source: the index and the ranges, or the whole file
  bool assembled = false;   // built from chunks rather than fetched whole
  bool patched = false;     // decoded from a patch against the machine's earlier file
  bool compressed = false;  // decoded from the compressed copy
};

// Writes the listed `file` as the new file `target`, hashed as it is written, the
// cheapest way the manifest offers. Where it lists a patch from one of the files of
// `have` (files that may hold some of it; missing ones are skipped), by its digest, the
// patch is applied to that file. Else, where the manifest names a chunk index and the
// index is sound, the file is assembled from the chunks of `have` and ranges of the
// published file, unless those would cost about as much as the whole file. Else the
// compressed copy is decoded, else the raw file fetched. A way that fails (a missing
// object, a patch or copy that does not decode to the file, ranges not served
// (RangeNotServed), an assembled file that does not match its digest) falls back to the
// next; the deadline and a server asking for time end the update. Failures of the
// raw file's fetch are returned.
ResultChain FetchChangedFile(SetSource& source, const ManifestFile& file, const std::vector<std::wstring>& have,
                             const std::wstring& target, Digest256& digest, FetchedFile& fetched);

}  // namespace kv::refengine
