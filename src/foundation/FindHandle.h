// FindHandle: the owner of a FindFirstFileW handle (INVALID_HANDLE_VALUE when none).
#pragma once

#include <windows.h>

#include "foundation/UniqueOwner.h"

namespace kv {

using FindHandle = UniqueOwner<HANDLE, &::FindClose, kInvalidHandleBits>;

}  // namespace kv
