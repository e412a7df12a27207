#include "HttpCodes.h"

#include <windows.h>
#include <winhttp.h>

namespace kv::refengine {

ResultChain WinHttpFailure(DWORD error) {
  // A socket that timed out can surface with the socket's own code (Wine does this);
  // it is the same failure as WinHTTP's timeout and is named as that, the original code
  // following it.
  if (error == WSAETIMEDOUT) return ResultChain(WinHttpCode(ERROR_WINHTTP_TIMEOUT)) + error;
  if (error == 0) return ResultChain(WinHttpCode(ERROR_WINHTTP_INTERNAL_ERROR));
  return ResultChain(WinHttpCode(error));
}

}  // namespace kv::refengine
