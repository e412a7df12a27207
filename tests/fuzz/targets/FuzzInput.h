// Shared by the fuzz targets: the fuzzer's bytes read as the parsers' inputs, and a
// check that stops the run with the failing input saved.
#pragma once

#include <clocale>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "windows.h"

// A property that must hold for every input. libFuzzer saves the input on the abort.
#define FUZZ_CHECK(condition)                                                                   \
  do {                                                                                          \
    if (!(condition)) {                                                                         \
      std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
      std::abort();                                                                             \
    }                                                                                           \
  } while (0)

class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  // The next byte, or 0 when none is left.
  std::uint8_t Byte() {
    if (size_ == 0) return 0;
    --size_;
    return *data_++;
  }
  // Up to `count` bytes.
  std::string_view Bytes(std::size_t count) {
    const std::string_view taken(reinterpret_cast<const char*>(data_), count < size_ ? count : size_);
    data_ += taken.size();
    size_ -= taken.size();
    return taken;
  }
  std::string_view Rest() { return Bytes(size_); }
  // The rest as UTF-16 code units, two bytes each, little-endian; a last odd byte is dropped.
  std::wstring RestAsUnits() {
    const std::string_view bytes = Rest();
    std::wstring units(bytes.size() / 2, L'\0');
    for (std::size_t i = 0; i < units.size(); ++i) {
      units[i] = static_cast<wchar_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                      static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
    }
    return units;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
};

// Every fuzzer starts as the service does, with the C runtime's locale set from the
// system, so that names fold beyond ASCII. (Each target file is a program of its own.)
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::setlocale(LC_ALL, "C.UTF-8");
  return 0;
}

// The ANSI code page for this input from a control byte: 932 when its low bit is set,
// else 1252. True for 932.
inline bool UseAnsiCodePageOf(std::uint8_t control) {
  kvshim::SetAnsiCodePage(control & 1 ? 932 : 1252);
  return control & 1;
}

// UTF-16LE bytes of wide text that holds code units.
inline std::string Utf16LeBytes(std::wstring_view units) {
  std::string bytes;
  for (wchar_t unit : units) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>((unit >> 8) & 0xFF);
  }
  return bytes;
}
