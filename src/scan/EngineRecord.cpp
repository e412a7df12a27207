#include "scan/ScanEngineContract.h"

#include <algorithm>

namespace kv {

ResultChain RecordChain(const EngineErrorRecord& record) {
  ResultChain chain;
  const std::uint32_t count = std::min(record.count, EngineErrorRecord::kCapacity);
  for (std::uint32_t i = 0; i < count; ++i) chain.Add(record.codes[i]);
  return chain;
}

}  // namespace kv
