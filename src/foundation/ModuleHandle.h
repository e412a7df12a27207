// ModuleHandle: the owner of a module from LoadLibrary(Ex)W.
#pragma once

#include <windows.h>

#include "foundation/UniqueOwner.h"

namespace kv {

using ModuleHandle = UniqueOwner<HMODULE, &::FreeLibrary>;

}  // namespace kv
