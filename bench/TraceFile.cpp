#include "TraceFile.h"

#include <cstdlib>

#include "support/WinTestUtil.h"

namespace kv::bench {

std::size_t TraceFile::Size() const { return test::ReadFileBytes(path_).size(); }

std::optional<std::int64_t> TraceFile::FirstAfter(std::size_t from, const std::string& operation) const {
  const std::string text = test::ReadFileBytes(path_);
  const std::string prefix = operation + " ";
  for (std::size_t at = from; at < text.size();) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) break;  // a line still being written
    if (text.compare(at, prefix.size(), prefix) == 0) {
      return std::strtoll(text.c_str() + at + prefix.size(), nullptr, 10);
    }
    at = end + 1;
  }
  return std::nullopt;
}

}  // namespace kv::bench
