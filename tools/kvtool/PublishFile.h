// Writing a file of a published definition set so that machines updating at the same
// moment see the old file or the new one whole, never a part.
#pragma once

#include <string>

#include "foundation/ResultChain.h"

namespace kv::tool {

// Writes `bytes` as "<target>.<process id>.tmp" beside `target`, flushes it, and renames
// it over `target` in one step. The temporary file is gone afterwards, also on failure.
ResultChain ReplaceLast(const std::wstring& target, const std::string& bytes);

}  // namespace kv::tool
