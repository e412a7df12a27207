// Removal of superseded program folders: when the program runs from "app3", its
// siblings "app", "app1", "app2.bak" ... in the same parent are old copies of it.
#pragma once

#include <cstdint>
#include <string>

#include "foundation/ResultChain.h"

namespace kv {

// Deletes the sibling folders of the program's folder that share its base name (the
// name less extension and trailing digits), keeping only the program's own folder.
// InvalidPath, and nothing deleted, when the program's folder does not have the wanted
// base. The program's folder is known by its identity, not its name: a sibling that is
// that folder (through a link), or holds it, is never deleted, and nothing is when its
// identity cannot be read. Links among the siblings are removed as links; their targets
// are never touched.
ResultChain ProgramFolderCleanup(const std::wstring& programPath, const std::wstring& baseName);

// Splits the last name of a path into base and trailing decimal number ("app12" gives
// "app" and 12; "app.old" gives "app"). IndexOverFlow for 10 or more digits.
ResultChain SplitFolderNumber(const std::wstring& path, std::wstring& base, std::uint32_t& number);

// Deletes a folder with everything below it to `depth` levels (-1: all), deepest entry
// first; read-only files included. Folder links inside are removed without entering them.
// A relative or rooted `folder` is resolved to its full path first.
ResultChain DeleteFolderTree(const std::wstring& folder, int depth);

}  // namespace kv
