#include "PublishFile.h"

#include <windows.h>

#include "FileTransfer.h"
#include "foundation/TextFormat.h"

namespace kv::tool {

ResultChain ReplaceLast(const std::wstring& target, const std::string& bytes) {
  const std::wstring temporary = FormatText(L"%s.%lu.tmp", target.c_str(), ::GetCurrentProcessId());
  ::DeleteFileW(temporary.c_str());
  if (const ResultChain written = refengine::WriteNewFile(temporary, bytes); written.Failed()) {
    ::DeleteFileW(temporary.c_str());
    return KV_MARK(written);
  }
  if (!::MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const ResultChain moved = KV_MARK(LastErrorChain());
    ::DeleteFileW(temporary.c_str());
    return moved;
  }
  return {};
}

}  // namespace kv::tool
