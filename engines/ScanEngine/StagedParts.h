// Keeping what a cut-short update fetched: the next update finds its chunks in the
// partial folder (DeltaFetch.h).
#pragma once

#include "DefinitionSwap.h"

namespace kv::refengine {

// What an update that failed, or an updater that was ended (killed, the machine off),
// had fetched into the staging folder, a file cut off part-way included: moved into the
// partial one (replacing older parts of the same name) before the staging folder is
// deleted, so that the next update finds its chunks. Links to the installed files (in
// the current folder, or in the backup of a swap cut short), and the manifest and its
// kin, stay where they are.
void KeepStagedParts(const DefinitionFolders& folders);

}  // namespace kv::refengine
