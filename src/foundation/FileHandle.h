// FileHandle: the owner of a handle from CreateFileW (INVALID_HANDLE_VALUE when none).
#pragma once

#include <windows.h>

#include "foundation/UniqueOwner.h"

namespace kv {

using FileHandle = UniqueOwner<HANDLE, &::CloseHandle, kInvalidHandleBits>;

}  // namespace kv
