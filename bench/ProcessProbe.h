// What a running process costs, read from outside: its memory and the processor time
// it has used. Holds the process handle, so it can also wait for the process to end.
#pragma once

#include <windows.h>

#include <cstdint>

#include "foundation/KernelHandle.h"

namespace kv::bench {

struct MemoryFigures {
  std::uint64_t privateBytes = 0;
  std::uint64_t workingSet = 0;
  // Private bytes came from walking the address space, the counter being empty (Wine
  // leaves it at zero for another process).
  bool privateWalked = false;
};

class ProcessProbe {
 public:
  ProcessProbe() = default;
  explicit ProcessProbe(DWORD processId);

  bool Opened() const { return process_.IsOpen(); }
  // Private bytes and working set from GetProcessMemoryInfo; when its private bytes are
  // zero, the committed private regions found by VirtualQueryEx instead.
  MemoryFigures Memory() const;
  // Kernel and user time together, in milliseconds.
  double CpuMilliseconds() const;
  // True once the process has ended, false after `timeoutMs`.
  bool WaitForExit(DWORD timeoutMs) const;

 private:
  KernelHandle process_;
};

}  // namespace kv::bench
