// FileHandle: the owner of a handle from CreateFileW (INVALID_HANDLE_VALUE when none).
#pragma once

#include <windows.h>

namespace kv {

// Owner of a file handle; closing keeps the thread's last error for the caller.
class FileHandle {
 public:
  explicit FileHandle(HANDLE handle) : handle_(handle) {}
  ~FileHandle() {
    if (handle_ == INVALID_HANDLE_VALUE) return;
    const DWORD error = ::GetLastError();
    ::CloseHandle(handle_);
    ::SetLastError(error);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  HANDLE Get() const { return handle_; }
  bool IsValid() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

}  // namespace kv
