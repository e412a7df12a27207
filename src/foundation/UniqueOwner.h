// UniqueOwner: the one owner of anything released by a single call, be it a kernel
// handle, a service handle, a WinHTTP handle, a module, a CNG object or LocalAlloc'ed
// memory.
//
// The release call and the "nothing held" value are part of the type, so each kind of
// resource is one alias:
//   using ScmHandle = UniqueOwner<SC_HANDLE, &::CloseServiceHandle>;
//   using FileHandle = UniqueOwner<HANDLE, &::CloseHandle, kInvalidHandleBits>;
// The empty value is given as its bits, because INVALID_HANDLE_VALUE is a cast and no
// constant a template may take.
//
// Move-only. Releasing keeps the thread's GetLastError(), so an owner leaving scope on
// an error path, or being reset, does not overwrite the error being reported.
#pragma once

#include <windows.h>

#include <cstdint>
#include <type_traits>
#include <utility>

namespace kv {

// The bits of INVALID_HANDLE_VALUE, the empty value of file, find and snapshot handles.
inline constexpr std::intptr_t kInvalidHandleBits = -1;

template <typename T, auto Release, std::intptr_t EmptyBits = 0>
class UniqueOwner {
 public:
  static T Empty() {
    if constexpr (std::is_pointer_v<T>) {
      return reinterpret_cast<T>(EmptyBits);
    } else {
      return static_cast<T>(EmptyBits);
    }
  }

  UniqueOwner() : value_(Empty()) {}
  explicit UniqueOwner(T value) : value_(value) {}
  ~UniqueOwner() { Reset(); }

  UniqueOwner(const UniqueOwner&) = delete;
  UniqueOwner& operator=(const UniqueOwner&) = delete;
  UniqueOwner(UniqueOwner&& other) noexcept : value_(other.Detach()) {}
  UniqueOwner& operator=(UniqueOwner&& other) noexcept {
    if (this != &other) Reset(other.Detach());
    return *this;
  }

  T Get() const { return value_; }
  bool IsOpen() const { return value_ != Empty(); }

  // Releases what is held and holds `value` instead (nothing, by default).
  void Reset(T value = Empty()) {
    if (value_ != Empty()) {
      const DWORD saved = ::GetLastError();
      (void)Release(value_);
      ::SetLastError(saved);
    }
    value_ = value;
  }

  // Gives up ownership without releasing.
  T Detach() { return std::exchange(value_, Empty()); }

  // For a call that hands out a new resource through a pointer: releases what is held
  // first, so nothing leaks when an owner is filled twice.
  T* Put() {
    Reset();
    return &value_;
  }

 private:
  T value_;
};

}  // namespace kv
