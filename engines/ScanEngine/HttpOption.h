// Sets one numeric option on a WinHTTP handle.
//
// A file of its own, outside the engine's object library, so that the engine's test
// build can record the options every request gets: what WinHTTP then does with them
// (the logon policy above all) differs between Wine and Windows, and the options are
// what the engine controls.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include "foundation/ResultChain.h"

namespace kv::refengine {

ResultChain SetHttpOption(HINTERNET handle, DWORD option, DWORD value);

}  // namespace kv::refengine
