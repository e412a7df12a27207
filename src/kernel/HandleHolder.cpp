#include "kernel/HandleHolder.h"

#include <utility>

#include "foundation/ErrorCodes.h"

namespace kv {

HandleHolder::~HandleHolder() {
  const DWORD saved = ::GetLastError();
  (void)Close();  // nothing to report to; the handle is given up
  ::SetLastError(saved);
}

HandleHolder::HandleHolder(HandleHolder&& other) noexcept
    : handle_(std::exchange(other.handle_, other.invalid_)), invalid_(other.invalid_) {}

HandleHolder& HandleHolder::operator=(HandleHolder&& other) noexcept {
  if (this != &other) {
    const DWORD saved = ::GetLastError();
    (void)Close();  // nothing to report to; the handle is given up
    ::SetLastError(saved);
    invalid_ = other.invalid_;
    handle_ = std::exchange(other.handle_, other.invalid_);
  }
  return *this;
}

ResultChain HandleHolder::Close() {
  if (handle_ == invalid_) return {};
  const DWORD saved = ::GetLastError();
  if (!::CloseHandle(handle_)) return LastErrorChain();
  handle_ = invalid_;
  ::SetLastError(saved);
  return {};
}

ResultChain HandleHolder::Attach(HANDLE h, DWORD* lastError) {
  const DWORD error = ::GetLastError();
  if (lastError != nullptr) *lastError = error;
  if (h == invalid_) {
    (void)Close();  // the old handle is given up either way
    ::SetLastError(error);
    return ResultChain(error != 0 ? error : static_cast<ErrorCode>(ERROR_INVALID_HANDLE));
  }
  (void)Close();  // the old handle is given up either way
  handle_ = h;
  ::SetLastError(error);
  return {};
}

ResultChain HandleHolder::CheckOpen() const {
  if (handle_ == invalid_) return KV_MARK(err::HandleNotEnabled);
  return {};
}

HANDLE HandleHolder::Detach() { return std::exchange(handle_, invalid_); }

}  // namespace kv
