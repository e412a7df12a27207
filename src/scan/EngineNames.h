// The scan-engine library's own code names, joined to the process-wide name map.
#pragma once

#include <string>

#include "foundation/ResultChain.h"

namespace kv {

// Loads the library at `path` for the merge only and adds its code names to the map:
// the rows belong to the library and must be read while it is loaded. The caller sees
// to the library's folder (trusted, and current while it loads). The engine's or the
// loader's code when the library does not load or bind, else MergeNames's result.
ResultChain MergeLibraryNames(const std::wstring& path);

}  // namespace kv
