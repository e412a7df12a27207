#include "HttpOption.h"

#include "HttpCodes.h"

namespace kv::refengine {

ResultChain SetHttpOption(HINTERNET handle, DWORD option, DWORD value) {
  if (!::WinHttpSetOption(handle, option, &value, sizeof(value))) return KV_MARK(WinHttpFailure(::GetLastError()));
  return {};
}

}  // namespace kv::refengine
