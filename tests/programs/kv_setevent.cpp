// Opens a named event and signals it, as another program on the machine would:
//   kv_setevent NAME        exit code 0 when the event was set, else the system error
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  HANDLE event = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[1]);
  if (event == nullptr) return static_cast<int>(::GetLastError());
  const BOOL ok = ::SetEvent(event);
  const DWORD error = ok ? 0 : ::GetLastError();
  ::CloseHandle(event);
  return static_cast<int>(error);
}
