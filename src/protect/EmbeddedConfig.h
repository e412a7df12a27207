// The embedded configuration text of a program file, read once and kept.
#pragma once

#include <string>

#include "kernel/CriticalSection.h"

namespace kv {

class EmbeddedConfig {
 public:
  // The text that stands for a configuration that could not be read.
  static constexpr const wchar_t* kInvalid = L"INVALID";

  // The program file to read; empty means the program's own executable.
  explicit EmbeddedConfig(std::wstring modulePath = std::wstring()) : modulePath_(std::move(modulePath)) {}

  // Resource 4096 as text, read on the first call and kept. A read that gives no text
  // makes the first call return "INVALID" and every later call empty text.
  std::wstring Text();

 private:
  CriticalSection lock_;
  std::wstring modulePath_;
  std::wstring kept_;
};

// EmbeddedConfig of the program's own executable, kept for the life of the process.
std::wstring EmbeddedConfigText();

}  // namespace kv
