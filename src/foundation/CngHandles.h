// CngHandles: the owners of CNG objects, an algorithm provider, a key and a hash.
#pragma once

#include <windows.h>

#include <bcrypt.h>

#include "foundation/UniqueOwner.h"

namespace kv {

// BCryptCloseAlgorithmProvider also takes flags, of which none is defined.
inline NTSTATUS CloseAlgorithmProvider(BCRYPT_ALG_HANDLE algorithm) {
  return ::BCryptCloseAlgorithmProvider(algorithm, /*dwFlags=*/0);
}

using CngAlgorithm = UniqueOwner<BCRYPT_ALG_HANDLE, &CloseAlgorithmProvider>;
using CngKey = UniqueOwner<BCRYPT_KEY_HANDLE, &::BCryptDestroyKey>;
using CngHash = UniqueOwner<BCRYPT_HASH_HANDLE, &::BCryptDestroyHash>;

}  // namespace kv
