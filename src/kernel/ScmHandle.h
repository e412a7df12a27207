// ScmHandle: the owner of one service control manager or service handle.
#pragma once

#include <windows.h>

namespace kv {

class ScmHandle {
 public:
  explicit ScmHandle(SC_HANDLE handle = nullptr) : handle_(handle) {}
  ~ScmHandle() {
    if (handle_ != nullptr) ::CloseServiceHandle(handle_);
  }
  ScmHandle(const ScmHandle&) = delete;
  ScmHandle& operator=(const ScmHandle&) = delete;

  SC_HANDLE Get() const { return handle_; }
  bool IsOpen() const { return handle_ != nullptr; }

 private:
  SC_HANDLE handle_;
};

}  // namespace kv
