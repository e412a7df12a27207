// A second program that writes the monthly log, for the tests of appends from several
// processes at once.
//
//   kv_logwriter write <folder> <writer id> <count> <start event> [<resume event>]
//     waits for the named start event, then appends <count> entries whose text tells
//     writer and sequence number; exit code 0, or 2 when the folder cannot be used.
//     With a resume event, it waits for that event (a minute at most) halfway.
//   kv_logwriter hold <mutex name> <ready event>
//     takes the named mutex (made with the log's access list when it is new), signals
//     the ready event and waits to be killed.
#include <windows.h>
#include <shellapi.h>

#include <cwchar>
#include <string>

#include "log/MonthlyLog.h"

namespace {

// The entry of writer `id` number `index`: a header line and a data line whose length
// varies, so that torn or interleaved entries cannot look whole.
std::wstring Entry(unsigned id, unsigned index) {
  std::wstring data(10 + (index * 7 + id) % 60, static_cast<wchar_t>(L'a' + id % 26));
  return L"[Writer" + std::to_wstring(id) + L":" + std::to_wstring(index) + L"]\nData=" + data + L"\n";
}

bool WaitForEvent(const std::wstring& name) {
  HANDLE event = ::OpenEventW(SYNCHRONIZE, FALSE, name.c_str());
  if (event == nullptr) return false;
  const DWORD waited = ::WaitForSingleObject(event, 60000);
  ::CloseHandle(event);
  return waited == WAIT_OBJECT_0;
}

int Write(const std::wstring& folder, unsigned id, unsigned count, const std::wstring& startEvent,
          const std::wstring& resumeEvent) {
  kv::MonthlyLog log;
  if (log.SetFolder(folder).Failed()) return 2;
  if (!WaitForEvent(startEvent)) return 4;
  for (unsigned i = 0; i < count; ++i) {
    if (i == count / 2 && !resumeEvent.empty() && !WaitForEvent(resumeEvent)) return 6;
    if (log.Write(Entry(id, i)).Failed()) return 5;
  }
  return 0;
}

int Hold(const std::wstring& mutexName, const std::wstring& readyEvent) {
  // Made as a writer of the log makes it, so that the service started next uses it.
  kv::HandleHolder mutex;
  if (kv::CreateNamedObject(kv::NamedObjectType::Mutex, mutexName, kv::kLogMutexAccess, mutex).Failed()) return 3;
  if (::WaitForSingleObject(mutex.Get(), 60000) == WAIT_TIMEOUT) return 4;
  HANDLE ready = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, readyEvent.c_str());
  if (ready == nullptr) return 5;
  ::SetEvent(ready);
  ::Sleep(INFINITE);
  return 0;
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (argv == nullptr) return 1;
  const std::wstring mode = argc > 1 ? argv[1] : L"";
  int rc = 1;
  if (mode == L"write" && (argc == 6 || argc == 7)) {
    rc = Write(argv[2], static_cast<unsigned>(std::wcstoul(argv[3], nullptr, 10)),
               static_cast<unsigned>(std::wcstoul(argv[4], nullptr, 10)), argv[5], argc == 7 ? argv[6] : L"");
  } else if (mode == L"hold" && argc == 4) {
    rc = Hold(argv[2], argv[3]);
  }
  ::LocalFree(argv);
  return rc;
}
