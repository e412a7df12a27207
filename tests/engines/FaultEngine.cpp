// A scan-engine library for tests that misbehaves on request.
//
// Built into several DLLs: FAULT_VERSION picks the interface version it reports,
// FAULT_NO_ERROR_TABLE leaves out "ReadErrorTable", FAULT_CONFLICTING_NAME names a
// known code differently. Its other faults are steered at run time by "key=value"
// lines from three places, later ones winning: FaultEngine.ini beside the DLL (read
// when an object is created), the settings text of Initialize and UpdateDefinition
// (section "FaultEngine"), and the exported FaultConfigure.
//
// The operation table is a hand-built array of pointers, so the positions the service
// relies on are proven against a layout our compiler did not choose.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <map>
#include <string>

#ifndef FAULT_VERSION
#define FAULT_VERSION 6
#endif

#define FAULT_EXPORT extern "C" __declspec(dllexport)

namespace {

using Code = std::uint32_t;
constexpr Code kAlreadyLastestDefinition = 0x32880003;
constexpr Code kFaultUninitialize = 0x7ED00002;
constexpr Code kFaultNotInitialized = 0x7ED00003;
constexpr Code kFaultUpdate = 0x7ED00004;

struct Row {
  std::uint32_t code;
  const wchar_t* name;
};

const Row kNames[] = {
    {0x617A0008, L"InvalidArgument"},  // agrees with the built-in name
#ifdef FAULT_CONFLICTING_NAME
    {0x617A0062, L"NoSuchFileHere"},   // contradicts "FileNotFound"
#endif
    {0x7ED00001, L"FaultEngineFirst"},
    {0x7ED00002, L"FaultUninitialize"},
    {0x7ED00003, L"FaultNotInitialized"},
    {0x7ED00004, L"FaultUpdate"},
    {0x7ED00001, L"ShadowedByTheEarlierRow"},
};

// An SRW lock rather than std::mutex: this library runs inside the service, whose
// synchronisation is Windows primitives only.
SRWLOCK g_lock = SRWLOCK_INIT;

struct LockGuard {
  LockGuard() { ::AcquireSRWLockExclusive(&g_lock); }
  ~LockGuard() { ::ReleaseSRWLockExclusive(&g_lock); }
  LockGuard(const LockGuard&) = delete;
  LockGuard& operator=(const LockGuard&) = delete;
};
std::map<std::wstring, std::wstring> g_settings;
std::map<std::wstring, long> g_calls;
std::atomic<long> g_liveObjects{0};
bool g_initialized = true;
HMODULE g_self = nullptr;

// With "TraceFile" set, every call is also appended to that file, so that a test in
// another process (the service's) can see what the service asked of its engine. With
// "TraceTimes=1" as well, each line ends in the performance counter read on entry
// ("UpdateDefinition 1234567890"), which the benchmark compares with its own readings.
void Trace(const wchar_t* op) {
  LARGE_INTEGER now{};
  ::QueryPerformanceCounter(&now);
  std::wstring path;
  bool times = false;
  {
    LockGuard guard;
    auto it = g_settings.find(L"TraceFile");
    if (it == g_settings.end() || it->second.empty()) return;
    path = it->second;
    auto flag = g_settings.find(L"TraceTimes");
    times = flag != g_settings.end() && std::wcstol(flag->second.c_str(), nullptr, 0) != 0;
  }
  HANDLE h = ::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                           0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  char line[96] = {};
  int n = 0;
  for (; op[n] != L'\0' && n < 60; ++n) line[n] = static_cast<char>(op[n]);
  if (times) n += std::snprintf(line + n, sizeof(line) - n - 1, " %lld", static_cast<long long>(now.QuadPart));
  line[n++] = '\n';
  DWORD written = 0;
  ::WriteFile(h, line, static_cast<DWORD>(n), &written, nullptr);
  ::CloseHandle(h);
}

void Count(const wchar_t* op) {
  {
    LockGuard guard;
    ++g_calls[op];
  }
  Trace(op);
}

// Reads "key=value" lines; with `section`, only those under that [section].
void ApplySettings(const std::wstring& text, const wchar_t* section) {
  LockGuard guard;
  bool inSection = section == nullptr;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find_first_of(L"\r\n", pos);
    if (end == std::wstring::npos) end = text.size();
    const std::wstring line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line[0] == L'[') {
      const std::wstring name = line.substr(1, line.find(L']') == std::wstring::npos ? 0 : line.find(L']') - 1);
      inSection = section == nullptr || _wcsicmp(name.c_str(), section) == 0;
      continue;
    }
    const size_t eq = line.find(L'=');
    if (inSection && eq != std::wstring::npos && eq > 0) g_settings[line.substr(0, eq)] = line.substr(eq + 1);
  }
}

long Setting(const wchar_t* key) {
  LockGuard guard;
  auto it = g_settings.find(key);
  return it == g_settings.end() ? 0 : std::wcstol(it->second.c_str(), nullptr, 0);
}

std::wstring TextSetting(const wchar_t* key) {
  LockGuard guard;
  auto it = g_settings.find(key);
  return it == g_settings.end() ? std::wstring() : it->second;
}

void ReadControlFile() {
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(g_self, path, MAX_PATH);
  std::wstring file(path);
  file = file.substr(0, file.find_last_of(L'\\') + 1) + L"FaultEngine.ini";
  HANDLE h = ::CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  char bytes[8192] = {};
  DWORD got = 0;
  ::ReadFile(h, bytes, sizeof(bytes) - 1, &got, nullptr);
  ::CloseHandle(h);
  std::wstring text;
  for (DWORD i = 0; i < got; ++i) text += static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]));
  ApplySettings(text, nullptr);
}

Code Fail(std::uint32_t* codes, std::uint32_t* count, Code code) {
  codes[0] = code;
  *count = 1;
  return 1;
}

void CopyOut(wchar_t* buffer, const std::wstring& text) {
  const size_t n = text.size() < 4095 ? text.size() : 4095;
  std::wmemcpy(buffer, text.c_str(), n);
  buffer[n] = L'\0';
}

struct FaultObject {
  void* const* table;
};

Code WINAPI GetInterfaceVersion(FaultObject*, std::uint32_t* version) {
  Count(L"GetInterfaceVersion");
  *version = FAULT_VERSION;
  return 0;
}

Code WINAPI Unused(FaultObject*) {
  Count(L"Unused");
  return 0x7ED000FF;
}

Code WINAPI CheckInitialized(FaultObject*, std::uint32_t* codes, std::uint32_t* count) {
  Count(L"CheckInitialized");
  if (!g_initialized) return Fail(codes, count, kFaultNotInitialized);
  return 0;
}

Code WINAPI Uninitialize(FaultObject*, std::uint32_t* codes, std::uint32_t* count) {
  Count(L"Uninitialize");
  if (Setting(L"UninitializeFails")) return Fail(codes, count, kFaultUninitialize);
  return 0;
}

Code WINAPI GetIniText(FaultObject*, wchar_t* buffer, std::uint32_t* length) {
  Count(L"GetIniText");
  std::wstring text = L"[Setting]\r\n";
  if (!Setting(L"IniKeyMissing")) text += L"IniKey=FaultEngine\r\n";
  if (const long units = Setting(L"IniTextUnits"); units > 0) {
    // Pad to exactly units - 1 characters so the text needs `units` with its terminator.
    std::wstring pad = L"Padding=";
    while (text.size() + pad.size() + 2 < static_cast<size_t>(units) - 1) pad += L'x';
    text += pad + L"\r\n";
  }
  if (*length < text.size() + 1) {
    *length = static_cast<std::uint32_t>(text.size() + 1);
    return 0x7ED00005;
  }
  std::wmemcpy(buffer, text.c_str(), text.size() + 1);
  return 0;
}

Code WINAPI Initialize(FaultObject*, std::uint32_t* codes, std::uint32_t* count, wchar_t* result,
                       const wchar_t* settings, std::uint32_t) {
  Count(L"Initialize");
  ApplySettings(settings ? settings : L"", L"FaultEngine");
  if (Setting(L"InitializeFails")) return Fail(codes, count, kFaultNotInitialized);
  g_initialized = true;
  CopyOut(result, L"[Initialize]\r\nSettingsLength=" + std::to_wstring(std::wcslen(settings ? settings : L"")) + L"\r\n");
  return 0;
}

Code WINAPI UpdateDefinition(FaultObject*, std::uint32_t* codes, std::uint32_t* count, const wchar_t*,
                             wchar_t* result, const wchar_t* settings) {
  Count(L"UpdateDefinition");
  ApplySettings(settings ? settings : L"", L"FaultEngine");
  if (const long ms = Setting(L"UpdateDelayMs"); ms > 0) ::Sleep(static_cast<DWORD>(ms));
  if (Setting(L"NotInitializedAfterUpdate")) g_initialized = false;
  CopyOut(result, L"[ScannerVersion]\r\nEngineVersion=fault-1\r\nDefinitionVersion=" +
                      TextSetting(L"DefinitionVersion") + L"\r\n");
  const std::wstring outcome = TextSetting(L"UpdateResult");
  if (outcome == L"AlreadyLatest") return Fail(codes, count, kAlreadyLastestDefinition);
  if (outcome == L"EmptyRecord") return 1;
  if (outcome == L"Fail") return Fail(codes, count, kFaultUpdate);
  return 0;
}

// The table as the service sees it: positions 0 to 8, built by hand.
void* const kTable[9] = {
    reinterpret_cast<void*>(&GetInterfaceVersion), reinterpret_cast<void*>(&Unused),
    reinterpret_cast<void*>(&CheckInitialized),    reinterpret_cast<void*>(&Uninitialize),
    reinterpret_cast<void*>(&GetIniText),          reinterpret_cast<void*>(&Initialize),
    reinterpret_cast<void*>(&Unused),              reinterpret_cast<void*>(&Unused),
    reinterpret_cast<void*>(&UpdateDefinition),
};

}  // namespace

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) g_self = instance;
  return TRUE;
}

FAULT_EXPORT Code WINAPI CreateObject(FaultObject** object, std::uint32_t) {
  Count(L"CreateObject");
  ReadControlFile();
  // "NullTable=1": an object without its operation table.
  *object = new FaultObject{Setting(L"NullTable") != 0 ? nullptr : kTable};
  ++g_liveObjects;
  return 0;
}

FAULT_EXPORT Code WINAPI ReleaseObject(FaultObject* object) {
  Count(L"ReleaseObject");
  delete object;
  --g_liveObjects;
  return 0;
}

#ifndef FAULT_NO_ERROR_TABLE
FAULT_EXPORT Code WINAPI ReadErrorTable(const Row** rows, std::uint32_t* count) {
  Count(L"ReadErrorTable");
  *rows = kNames;
  *count = sizeof(kNames) / sizeof(kNames[0]);
  return 0;
}
#endif

// Test controls, not part of the engine contract.
FAULT_EXPORT void WINAPI FaultConfigure(const wchar_t* text) { ApplySettings(text ? text : L"", nullptr); }

FAULT_EXPORT void WINAPI FaultReset() {
  LockGuard guard;
  g_settings.clear();
  g_calls.clear();
  g_initialized = true;
}

FAULT_EXPORT long WINAPI FaultCalls(const wchar_t* op) {
  LockGuard guard;
  auto it = g_calls.find(op);
  return it == g_calls.end() ? 0 : it->second;
}

FAULT_EXPORT long WINAPI FaultLiveObjects() { return g_liveObjects.load(); }
