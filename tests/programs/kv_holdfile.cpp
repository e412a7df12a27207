// Test helper: holds a file open without sharing for a while.
//
//   kv_holdfile <path> <milliseconds> <ready event name>
//
// Opens the existing file with share mode 0, sets the named event (created by the test)
// once the file is held, sleeps, closes the file and exits 0. Exit code 2 means bad
// arguments, 3 that the file could not be opened, 4 that the event could not be set.
#include <windows.h>
#include <shellapi.h>

#include <cwchar>

int main() {
  int argc = 0;
  LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (argv == nullptr || argc < 4) return 2;
  const DWORD holdMs = static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10));

  HANDLE file = ::CreateFileW(argv[1], GENERIC_READ | GENERIC_WRITE, /*dwShareMode=*/0,
                              /*lpSecurityAttributes=*/nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              /*hTemplateFile=*/nullptr);
  if (file == INVALID_HANDLE_VALUE) return 3;

  HANDLE ready = ::OpenEventW(EVENT_MODIFY_STATE, /*bInheritHandle=*/FALSE, argv[3]);
  if (ready == nullptr || !::SetEvent(ready)) {
    ::CloseHandle(file);
    return 4;
  }
  ::CloseHandle(ready);
  ::Sleep(holdMs);
  ::CloseHandle(file);
  ::LocalFree(argv);
  return 0;
}
