// HandleHolder: the owner of one kernel handle.
//
// Move-only. Closing keeps the caller's GetLastError() so that an owner going out of
// scope on an error path does not overwrite the error being reported.
#pragma once

#include <windows.h>

#include "foundation/ResultChain.h"

namespace kv {

class HandleHolder {
 public:
  // `invalid` is the value that means "no handle" for this holder (null for almost all
  // kernel objects, INVALID_HANDLE_VALUE for files).
  explicit HandleHolder(HANDLE invalid = nullptr) : handle_(invalid), invalid_(invalid) {}
  virtual ~HandleHolder();

  HandleHolder(const HandleHolder&) = delete;
  HandleHolder& operator=(const HandleHolder&) = delete;
  HandleHolder(HandleHolder&& other) noexcept;
  HandleHolder& operator=(HandleHolder&& other) noexcept;

  // Closes the handle; an empty holder succeeds. A failed CloseHandle keeps the handle.
  ResultChain Close();

  // Takes ownership of h after closing the current handle. `lastError` receives
  // GetLastError() as it was on entry (the error of the call that produced h).
  // An invalid h fails with that error, or ERROR_INVALID_HANDLE when it is 0.
  ResultChain Attach(HANDLE h, DWORD* lastError = nullptr);

  // HandleNotEnabled when the holder is empty.
  ResultChain CheckOpen() const;

  bool IsOpen() const { return handle_ != invalid_; }
  HANDLE Get() const { return handle_; }
  HANDLE InvalidValue() const { return invalid_; }

  // Gives up ownership without closing.
  HANDLE Detach();

 private:
  HANDLE handle_;
  HANDLE invalid_;
};

}  // namespace kv
