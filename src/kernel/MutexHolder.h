// MutexHolder: a named mutex and whether this object holds it.
//
// Ownership of a Windows mutex belongs to the thread that acquired it; Close (and the
// destructor) releases it, so an owner must be closed on the thread that locked it.
#pragma once

#include <windows.h>

#include <string>

#include "foundation/ResultChain.h"
#include "kernel/HandleHolder.h"

namespace kv {

// Holds its handle rather than being a HandleHolder: closing a mutex also gives back its
// acquisitions, which a HandleHolder's Close, reached through a reference, would skip.
class MutexHolder {
 public:
  MutexHolder() = default;
  ~MutexHolder();
  MutexHolder(MutexHolder&& other) noexcept;
  MutexHolder& operator=(MutexHolder&&) = delete;

  // Creates (or opens, when it exists) the named mutex, never as initial owner.
  // `createdNew` tells whether this call created it. With `acquire`, tries a lock with
  // time-out 0 and ignores its outcome.
  ResultChain Create(const std::wstring& name, bool acquire, SECURITY_ATTRIBUTES* security = nullptr,
                     bool* createdNew = nullptr);

  // Opens an existing named mutex (OpenMutexW) with the given access.
  ResultChain Open(const std::wstring& name, DWORD access = SYNCHRONIZE);

  // Waits up to `timeoutMs`. A time-out gives WAIT_TIMEOUT (258); an abandoned mutex
  // counts as acquired.
  ResultChain Lock(DWORD timeoutMs);

  // Gives back every acquisition this object made.
  ResultChain Unlock();

  // Releases the mutex if held, then closes the handle. An empty holder succeeds.
  ResultChain Close();

  bool IsOpen() const { return handle_.IsOpen(); }
  bool Owned() const { return ownedCount_ > 0; }
  // True when the last successful Lock found the mutex abandoned.
  bool WasAbandoned() const { return abandoned_; }

 private:
  HandleHolder handle_;
  // Counted rather than flagged: each successful wait is one acquisition that must be
  // given back, or the mutex stays held after Close.
  unsigned ownedCount_ = 0;
  bool abandoned_ = false;
};

}  // namespace kv
