// StartServiceW and CreateProcessW, asked again when Wine could not create the process.
//
// Wine's service manager creates the process inside StartServiceW. Now and then, under
// load, the new process dies during Wine's own start-up, before any code of the program
// has run; CreateProcessW then fails with ERROR_INTERNAL_ERROR, which StartServiceW
// hands back as it is. Windows does not answer a start with that code, and the
// service's own failures never look like it (they end a started process, which is
// ERROR_SERVICE_REQUEST_TIMEOUT or a reported exit code), so this one answer, and only
// it, is asked again. A plain CreateProcessW meets the same race and gets the same
// answer.
#pragma once

#include <windows.h>

namespace kv::test {

inline BOOL StartServiceRetrying(SC_HANDLE service, DWORD argc = 0, LPCWSTR* argv = nullptr) {
  constexpr int kAttempts = 5;
  for (int attempt = 1;; ++attempt) {
    if (::StartServiceW(service, argc, argv)) return TRUE;
    const DWORD error = ::GetLastError();
    if (error != ERROR_INTERNAL_ERROR || attempt == kAttempts) {
      ::SetLastError(error);
      return FALSE;
    }
    ::Sleep(200);
  }
}

inline BOOL CreateProcessRetrying(wchar_t* commandLine, BOOL inheritHandles, DWORD flags, STARTUPINFOW* startup,
                                  PROCESS_INFORMATION* process) {
  constexpr int kAttempts = 5;
  for (int attempt = 1;; ++attempt) {
    if (::CreateProcessW(nullptr, commandLine, nullptr, nullptr, inheritHandles, flags, nullptr, nullptr, startup,
                         process)) {
      return TRUE;
    }
    const DWORD error = ::GetLastError();
    if (error != ERROR_INTERNAL_ERROR || attempt == kAttempts) {
      ::SetLastError(error);
      return FALSE;
    }
    ::Sleep(200);
  }
}

}  // namespace kv::test
