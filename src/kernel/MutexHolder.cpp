#include "kernel/MutexHolder.h"

#include <utility>

#include "foundation/ErrorCodes.h"

namespace kv {

MutexHolder::~MutexHolder() {
  const DWORD saved = ::GetLastError();
  (void)Close();  // nothing to report to; the handle is given up
  ::SetLastError(saved);
}

MutexHolder::MutexHolder(MutexHolder&& other) noexcept
    : handle_(std::move(other.handle_)),
      ownedCount_(std::exchange(other.ownedCount_, 0u)),
      abandoned_(std::exchange(other.abandoned_, false)) {}

ResultChain MutexHolder::Create(const std::wstring& name, bool acquire, SECURITY_ATTRIBUTES* security,
                                bool* createdNew) {
  if (name.empty()) return KV_MARK(err::InvalidArgument);
  (void)Close();  // the old handle is given up either way
  DWORD error = 0;
  HANDLE h = ::CreateMutexW(security, /*bInitialOwner=*/FALSE, name.c_str());
  ResultChain attached = handle_.Attach(h, &error);
  if (attached.Failed()) return KV_MARK(attached);
  if (createdNew != nullptr) *createdNew = (error != ERROR_ALREADY_EXISTS);
  ResultChain open = handle_.CheckOpen();
  if (open.Failed()) return KV_MARK(open);
  if (acquire) (void)Lock(0);  // a mutex held elsewhere is still a created one
  return {};
}

ResultChain MutexHolder::Open(const std::wstring& name, DWORD access) {
  if (name.empty()) return KV_MARK(err::InvalidArgument);
  (void)Close();  // the old handle is given up either way
  HANDLE h = ::OpenMutexW(access, /*bInheritHandle=*/FALSE, name.c_str());
  ResultChain attached = handle_.Attach(h);
  if (attached.Failed()) return KV_MARK(attached);
  return {};
}

ResultChain MutexHolder::Lock(DWORD timeoutMs) {
  ResultChain open = handle_.CheckOpen();
  if (open.Failed()) return KV_MARK(open);
  const DWORD result = ::WaitForSingleObject(handle_.Get(), timeoutMs);
  switch (result) {
    case WAIT_TIMEOUT:
      return KV_MARK(static_cast<ErrorCode>(WAIT_TIMEOUT));
    case WAIT_FAILED:
      return LastErrorChain();
    default:
      // WAIT_OBJECT_0, or WAIT_ABANDONED: the previous owner died holding it; the mutex
      // is ours all the same and whatever it guards is the caller's to judge.
      abandoned_ = (result == WAIT_ABANDONED);
      ++ownedCount_;
      return {};
  }
}

ResultChain MutexHolder::Unlock() {
  ResultChain result;
  while (ownedCount_ > 0) {
    --ownedCount_;
    if (!::ReleaseMutex(handle_.Get()) && !result.Failed()) result = KV_MARK(LastErrorChain());
  }
  return result;
}

ResultChain MutexHolder::Close() {
  if (handle_.CheckOpen().Failed()) return {};
  const DWORD saved = ::GetLastError();
  (void)Unlock();  // not owned is fine: the handle closes next
  ::SetLastError(saved);
  ResultChain closed = handle_.Close();
  if (closed.Failed()) return KV_MARK(closed);
  return {};
}

}  // namespace kv
