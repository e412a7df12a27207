// The few Win32 and Windows CRT declarations that the parsers built natively for the
// fuzzers use. Linux only: wchar_t is 32 bits here and holds one UTF-16 code unit, as
// the product's wide text does on Windows. Win32Shim.cpp implements them.
#pragma once

#include <algorithm>
#include <cstdarg>
#include <cstdint>

using BOOL = int;
using DWORD = std::uint32_t;
using UINT = unsigned;
using LANGID = std::uint16_t;
// Handles appear in headers the parsers bring along (the engine's file owners); no
// handle is ever opened here.
using HANDLE = void*;
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1)))

constexpr BOOL FALSE = 0;
constexpr BOOL TRUE = 1;
constexpr DWORD MAX_PATH = 260;

constexpr UINT CP_ACP = 0;
constexpr UINT CP_UTF7 = 65000;
constexpr UINT CP_UTF8 = 65001;
constexpr DWORD MB_ERR_INVALID_CHARS = 0x8;
constexpr DWORD WC_ERR_INVALID_CHARS = 0x80;
constexpr DWORD FORMAT_MESSAGE_FROM_SYSTEM = 0x1000;

constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_NOT_SUPPORTED = 50;
constexpr DWORD ERROR_GEN_FAILURE = 31;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_ENVVAR_NOT_FOUND = 203;
constexpr DWORD ERROR_INVALID_FLAGS = 1004;
constexpr DWORD ERROR_MR_MID_NOT_FOUND = 317;
constexpr DWORD ERROR_NO_UNICODE_TRANSLATION = 1113;

DWORD GetLastError();
void SetLastError(DWORD error);

// Code pages 1252, 932 and 65001 (UTF-8); CP_ACP is the one chosen with
// kvshim::SetAnsiCodePage (1252 unless set). A count of -1 means "up to and including
// the terminating zero", as on Windows.
UINT GetACP();
int MultiByteToWideChar(UINT codePage, DWORD flags, const char* bytes, int count, wchar_t* wide, int wideCount);
int WideCharToMultiByte(UINT codePage, DWORD flags, const wchar_t* wide, int count, char* bytes, int byteCount,
                        const char* defaultChar, BOOL* usedDefault);

// No system message texts exist here.
DWORD FormatMessageW(DWORD flags, const void* source, DWORD messageId, DWORD languageId, wchar_t* buffer,
                     DWORD size, va_list* arguments);
LANGID GetSystemDefaultLangID();

// The Windows CRT's formatter: "%s" in a wide format takes a wide string.
int _vsnwprintf(wchar_t* buffer, std::size_t count, const wchar_t* format, va_list args);

// Ordinal comparison, with `ignoreCase` by the simple upper-case mapping of each code
// unit (the system uses its own table; the two agree on every letter the tests use).
constexpr int CSTR_LESS_THAN = 1;
constexpr int CSTR_EQUAL = 2;
constexpr int CSTR_GREATER_THAN = 3;
int CompareStringOrdinal(const wchar_t* a, int aCount, const wchar_t* b, int bCount, BOOL ignoreCase);

// The program is "C:\Program Files\Kestravondalsc\Kestravondalsc.exe"; every path is
// already in its long form; no environment variable is set.
DWORD GetModuleFileNameW(void* module, wchar_t* buffer, DWORD size);
DWORD GetLongPathNameW(const wchar_t* path, wchar_t* buffer, DWORD size);
DWORD GetEnvironmentVariableW(const wchar_t* name, wchar_t* buffer, DWORD size);

// A path resolved the way the system resolves it, against the folder
// "C:\Program Files\Kestravondalsc" and its drive.
DWORD GetFullPathNameW(const wchar_t* path, DWORD size, wchar_t* buffer, wchar_t** filePart);

// Slim reader/writer locks and one-time initialisation. A fuzzer runs one thread, so
// the locks guard nothing here; the one-time call runs its function once, as it must.
#define CALLBACK
using PVOID = void*;
struct SRWLOCK {
  void* state;
};
using PSRWLOCK = SRWLOCK*;
#define SRWLOCK_INIT {nullptr}
inline void AcquireSRWLockShared(SRWLOCK*) {}
inline void ReleaseSRWLockShared(SRWLOCK*) {}
inline void AcquireSRWLockExclusive(SRWLOCK*) {}
inline void ReleaseSRWLockExclusive(SRWLOCK*) {}
struct INIT_ONCE {
  void* context;
  bool done;
};
using PINIT_ONCE = INIT_ONCE*;
#define INIT_ONCE_STATIC_INIT {nullptr, false}
using PINIT_ONCE_FN = BOOL (*)(PINIT_ONCE, PVOID, PVOID*);
inline BOOL InitOnceExecuteOnce(PINIT_ONCE once, PINIT_ONCE_FN function, PVOID parameter, PVOID* context) {
  if (!once->done) {
    if (!function(once, parameter, &once->context)) return FALSE;
    once->done = true;
  }
  if (context != nullptr) *context = once->context;
  return TRUE;
}

namespace kvshim {
// The code page CP_ACP stands for: 1252 or 932.
void SetAnsiCodePage(UINT codePage);
// wcstoul as the Windows CRT has it: unsigned long is 32 bits there, so "4294967296"
// is a range error and "-1" gives 0xFFFFFFFF.
unsigned long WindowsWcstoul(const wchar_t* text, wchar_t** end, int radix);
}  // namespace kvshim
