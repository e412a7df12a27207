#include "UpdateLock.h"

#include "foundation/ErrorCodes.h"
#include "foundation/FileSystem.h"
#include "foundation/OwnFiles.h"

namespace kv::refengine {

ResultChain UpdateLock::Take(const std::wstring& path) {
  // No sharing: while it is held nobody opens it, a user who might block updates with it
  // included. Readable by nobody but SYSTEM and Administrators.
  HANDLE h = OpenForWriting(path, GENERIC_WRITE, /*share=*/0, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, Readers::Nobody);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_SHARING_VIOLATION) return KV_MARK(ResultChain(err::BusyUncUpdating) + error);
    return KV_MARK(ResultChain(error));
  }
  (void)file_.Attach(h);  // a valid handle is always taken
  // One that was there before, made by someone untrusted, was put there on purpose; it
  // goes when this handle closes, and this update does not run on it.
  if (ResultChain foreign = RefuseForeignOwner(file_.Get()); foreign.Failed()) {
    (void)file_.Close();  // the refusal is the one reported
    return KV_MARK(foreign);
  }
  return {};
}

}  // namespace kv::refengine
