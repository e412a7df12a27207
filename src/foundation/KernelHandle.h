// KernelHandle: the owner of a kernel handle whose "none" is null (events, processes,
// threads, tokens), where nothing needs the closing reported. Handles whose close
// failure matters are held by kernel/HandleHolder.
#pragma once

#include <windows.h>

#include "foundation/UniqueOwner.h"

namespace kv {

using KernelHandle = UniqueOwner<HANDLE, &::CloseHandle>;

}  // namespace kv
