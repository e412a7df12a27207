// Keeps two updaters off one destination: the lock is a file opened without sharing
// and deleted when its handle closes, so a killed updater never leaves it held.
#pragma once

#include <string>

#include "foundation/ResultChain.h"
#include "kernel/HandleHolder.h"

namespace kv::refengine {

class UpdateLock {
 public:
  UpdateLock() = default;
  UpdateLock(const UpdateLock&) = delete;
  UpdateLock& operator=(const UpdateLock&) = delete;

  // BusyUncUpdating when another updater holds the lock file at `path`.
  ResultChain Take(const std::wstring& path);

 private:
  HandleHolder file_{INVALID_HANDLE_VALUE};
};

}  // namespace kv::refengine
