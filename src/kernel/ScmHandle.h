// ScmHandle: the owner of one service control manager or service handle.
#pragma once

#include <windows.h>

#include "foundation/UniqueOwner.h"

namespace kv {

using ScmHandle = UniqueOwner<SC_HANDLE, &::CloseServiceHandle>;

}  // namespace kv
