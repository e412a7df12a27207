// Removal of superseded program folders: when the program runs from "app3", its
// siblings "app", "app1", "app2.bak" ... in the same parent are old copies of it.
#pragma once

#include <cstdint>
#include <functional>
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
//
// The clean-up runs with the service's rights, so it is refused, with InvalidParent and
// nothing deleted, when the parent folder lets Users, Authenticated Users, Interactive
// or Everyone write or make folders there: such a user could plant a "sibling" and have
// the service delete whatever it leads to.
ResultChain ProgramFolderCleanup(const std::wstring& programPath, const std::wstring& baseName);

// Called with the path of each folder the clean-up has listed, before any entry of it
// is opened: lets a test change the tree between the listing and the deletes.
using CleanupProbe = std::function<void(const std::wstring& listedFolder)>;
ResultChain ProgramFolderCleanup(const std::wstring& programPath, const std::wstring& baseName,
                                 const CleanupProbe& probe);

// Splits the last name of a path into base and trailing decimal number ("app12" gives
// "app" and 12; "app.old" gives "app"). IndexOverFlow for 10 or more digits.
ResultChain SplitFolderNumber(const std::wstring& path, std::wstring& base, std::uint32_t& number);

// Deletes a folder with everything below it to `depth` levels (-1: all), read-only
// files included; the first entry that cannot be deleted ends it. Every entry is opened
// without following a link at its end, checked to be the entry that was listed in the
// folder held open above it, and deleted through that handle: a link is removed as
// itself and never entered, and a folder swapped for a link after the listing is
// refused (InvalidObject). A relative or rooted `folder` is resolved to its full path
// first; a `folder` that is itself a link is removed as a link.
ResultChain DeleteFolderTree(const std::wstring& folder, int depth);

}  // namespace kv
