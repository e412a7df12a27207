// SrwGuard: holds a slim reader/writer lock for one scope, on every exit path.
//
// Slim reader/writer locks rather than the standard library's: with this toolchain its
// read/write lock is winpthreads' one, which has been seen to deadlock readers against a
// writer.
#pragma once

#include <windows.h>

namespace kv {

template <void (*Acquire)(PSRWLOCK), void (*Release)(PSRWLOCK)>
class SrwGuard {
 public:
  explicit SrwGuard(SRWLOCK& lock) : lock_(lock) { Acquire(&lock_); }
  ~SrwGuard() { Release(&lock_); }
  SrwGuard(const SrwGuard&) = delete;
  SrwGuard& operator=(const SrwGuard&) = delete;

 private:
  SRWLOCK& lock_;
};

using SharedGuard = SrwGuard<&::AcquireSRWLockShared, &::ReleaseSRWLockShared>;
using ExclusiveGuard = SrwGuard<&::AcquireSRWLockExclusive, &::ReleaseSRWLockExclusive>;

}  // namespace kv
