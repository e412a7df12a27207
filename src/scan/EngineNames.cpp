#include "scan/EngineNames.h"

#include <cstdint>

#include "foundation/ErrorNames.h"
#include "scan/ScanModule.h"

namespace kv {

ResultChain MergeLibraryNames(const std::wstring& path) {
  ScanModule module;
  if (const ErrorCode code = module.Load(path); code != 0) return ResultChain(code);
  const ErrorNameRow* rows = nullptr;
  std::uint32_t count = 0;
  ErrorCode code = module.Check();
  if (code == 0) code = module.readErrorTable()(&rows, &count);
  if (code != 0) return ResultChain(code);
  return MergeNames(rows, count);
}

}  // namespace kv
