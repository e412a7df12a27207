#include "UpdateLock.h"

#include "foundation/ErrorCodes.h"
#include "foundation/FileSystem.h"

namespace kv::refengine {

ResultChain UpdateLock::Take(const std::wstring& path) {
  HANDLE h =
      ::CreateFileW(LongPathForm(path).c_str(), GENERIC_WRITE, /*dwShareMode=*/0, /*lpSecurityAttributes=*/nullptr,
                    CREATE_ALWAYS, FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE,
                    /*hTemplateFile=*/nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_SHARING_VIOLATION) return KV_MARK(ResultChain(err::BusyUncUpdating) + error);
    return KV_MARK(ResultChain(error));
  }
  file_.Attach(h);
  return {};
}

}  // namespace kv::refengine
