// The fault engine's trace file, read by the benchmark: with "TraceTimes=1" each line is
// an operation and the performance counter read when the service called it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kv::bench {

class TraceFile {
 public:
  explicit TraceFile(std::wstring path) : path_(std::move(path)) {}

  // Bytes in the file now; a later search starts there.
  std::size_t Size() const;
  // The counter of the first `operation` line at or after byte `from`, if there is one.
  std::optional<std::int64_t> FirstAfter(std::size_t from, const std::string& operation) const;

 private:
  std::wstring path_;
};

}  // namespace kv::bench
