#include "ProcessProbe.h"

#include <psapi.h>

namespace kv::bench {

namespace {

double Milliseconds(const FILETIME& time) {
  ULARGE_INTEGER value;
  value.LowPart = time.dwLowDateTime;
  value.HighPart = time.dwHighDateTime;
  return static_cast<double>(value.QuadPart) / 10000.0;
}

// Committed memory of the process's own (not image, not mapped) regions: what private
// bytes count.
std::uint64_t CommittedPrivate(HANDLE process) {
  std::uint64_t total = 0;
  MEMORY_BASIC_INFORMATION region{};
  const char* at = nullptr;
  while (::VirtualQueryEx(process, at, &region, sizeof(region)) == sizeof(region)) {
    if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
    const char* next = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
    if (next <= at) break;
    at = next;
  }
  return total;
}

}  // namespace

ProcessProbe::ProcessProbe(DWORD processId)
    : process_(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | SYNCHRONIZE, FALSE, processId)) {}

MemoryFigures ProcessProbe::Memory() const {
  MemoryFigures figures;
  PROCESS_MEMORY_COUNTERS_EX counters{};
  counters.cb = sizeof(counters);
  if (process_.IsOpen() &&
      ::GetProcessMemoryInfo(process_.Get(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof(counters))) {
    figures.privateBytes = counters.PrivateUsage;
    figures.workingSet = counters.WorkingSetSize;
  }
  if (process_.IsOpen() && figures.privateBytes == 0) {
    figures.privateBytes = CommittedPrivate(process_.Get());
    figures.privateWalked = true;
  }
  return figures;
}

double ProcessProbe::CpuMilliseconds() const {
  FILETIME created{}, exited{}, kernel{}, user{};
  if (!process_.IsOpen() || !::GetProcessTimes(process_.Get(), &created, &exited, &kernel, &user)) return -1;
  return Milliseconds(kernel) + Milliseconds(user);
}

bool ProcessProbe::WaitForExit(DWORD timeoutMs) const {
  return process_.IsOpen() && ::WaitForSingleObject(process_.Get(), timeoutMs) == WAIT_OBJECT_0;
}

}  // namespace kv::bench
