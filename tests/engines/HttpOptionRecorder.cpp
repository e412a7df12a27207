// The WinHTTP options of ScanEngineRenameFaults.dll, the reference engine's test build:
// set as the engine sets them, and each one recorded in order.
#include <windows.h>

#include <vector>

#include "../../engines/ScanEngine/HttpCodes.h"
#include "../../engines/ScanEngine/HttpOption.h"
#include "kernel/CriticalSection.h"

namespace {
kv::CriticalSection g_lock;
std::vector<DWORD> g_options;  // option, value, option, value, ...
}  // namespace

namespace kv::refengine {

ResultChain SetHttpOption(HINTERNET handle, DWORD option, DWORD value) {
  {
    CriticalSectionGuard guard(g_lock);
    g_options.push_back(option);
    g_options.push_back(value);
  }
  if (!::WinHttpSetOption(handle, option, &value, sizeof(value))) return KV_MARK(WinHttpFailure(::GetLastError()));
  return {};
}

}  // namespace kv::refengine

// Copies up to `capacity` recorded numbers (option, value pairs) into `out` and forgets
// them; returns how many there were.
extern "C" __declspec(dllexport) unsigned WINAPI TakeHttpOptions(DWORD* out, unsigned capacity) {
  kv::CriticalSectionGuard guard(g_lock);
  const unsigned count = static_cast<unsigned>(g_options.size());
  for (unsigned i = 0; i < count && i < capacity; ++i) out[i] = g_options[i];
  g_options.clear();
  return count;
}
