// How web failures read in a chain: an HTTP status as HttpStatusBase (0x6D5E) plus the
// status, a WinHTTP error as WininetErrorBase (0x6E72) plus the error number, so that
// the service's name tables name both ("HTTP_STATUS_404_NOT_FOUND",
// "WININET_ERROR_INTERNET_TIMEOUT").
#pragma once

#include <windows.h>

#include "foundation/ResultChain.h"

namespace kv::refengine {

constexpr ErrorCode HttpStatusBase = 0x6D5E0000;
constexpr ErrorCode WininetErrorBase = 0x6E720000;

// A server asking its clients to slow down; winhttp.h has no name for it.
constexpr DWORD kHttpTooManyRequests = 429;
constexpr DWORD kHttpRangeNotSatisfiable = 416;

constexpr ErrorCode HttpStatusCode(DWORD status) { return HttpStatusBase + (status & 0xFFFFu); }

// A WinHTTP error (12000-12999) in its family; any other error stays a system code.
constexpr ErrorCode WinHttpCode(DWORD error) {
  return error >= 12000 && error < 13000 ? WininetErrorBase + error : error;
}

// The chain for a WinHTTP call that failed with `error`.
ResultChain WinHttpFailure(DWORD error);

}  // namespace kv::refengine
