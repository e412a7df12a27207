// Processor time of a program as the host kernel counts it, in nanoseconds, when the
// benchmark runs under Wine: Wine reports a process's times in 10 ms ticks, too coarse
// for a process that wakes once a second for microseconds. The host process is found
// through Wine's drive Z: by its command line (the program's Windows path) and, when
// known, its WINEPREFIX; its threads' run times are summed from /proc. Unavailable
// elsewhere.
#pragma once

#include <cstdint>
#include <string>

namespace kv::bench {

class HostProcessTime {
 public:
  HostProcessTime() = default;
  // Looks for the one host process running `program`.
  explicit HostProcessTime(const std::wstring& program);

  bool Available() const { return pid_ != 0; }
  // Sum over the process's present threads; -1 when unavailable. Threads that ended
  // between two readings are missing from the later one.
  std::int64_t Nanoseconds() const;

 private:
  unsigned long pid_ = 0;
};

}  // namespace kv::bench
