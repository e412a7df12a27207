// Linux implementations of the declarations in windows.h, close enough to Windows for
// the parsers: the same length queries, failures and last-error codes. Code page 1252
// is a table; 932 and UTF-8 go through glibc's iconv via UTF-16LE.
#include "windows.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <iterator>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace {

thread_local DWORD lastError = 0;
UINT ansiCodePage = 1252;

// 0x80..0x9F of code page 1252; the rest of its bytes are their own code points.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

int Fail(DWORD error) {
  lastError = error;
  return 0;
}

const char* IconvName(UINT codePage) {
  if (codePage == CP_ACP) codePage = ansiCodePage;
  switch (codePage) {
    case 932: return "CP932";
    case CP_UTF8: return "UTF-8";
    case 1252: return "";  // by table
    default: return nullptr;
  }
}

// One converter per direction and code page, reset before each use, closed at exit.
iconv_t Converter(const char* to, const char* from) {
  static struct Open : std::map<std::pair<std::string, std::string>, iconv_t> {
    ~Open() {
      for (auto& entry : *this) {
        if (entry.second != iconv_t(-1)) iconv_close(entry.second);
      }
    }
  } open;
  auto [it, added] = open.try_emplace({to, from}, iconv_t(-1));
  if (added) it->second = iconv_open(to, from);
  if (it->second != iconv_t(-1)) iconv(it->second, nullptr, nullptr, nullptr, nullptr);
  return it->second;
}

// Converts `in` piece by piece; an invalid or truncated sequence calls `invalid`, which
// skips `step` bytes and appends a replacement, or returns false to give up.
template <typename Invalid>
bool Convert(iconv_t cd, const char* in, std::size_t size, std::size_t step, std::string& out, Invalid invalid) {
  char* from = const_cast<char*>(in);
  std::size_t left = size;
  while (left > 0) {
    char buffer[256];
    char* to = buffer;
    std::size_t room = sizeof buffer;
    const std::size_t done = iconv(cd, &from, &left, &to, &room);
    out.append(buffer, static_cast<std::size_t>(to - buffer));
    if (done != std::size_t(-1) || errno == E2BIG) continue;
    if (!invalid(out)) return false;
    const std::size_t skip = std::min(step, left);
    from += skip;
    left -= skip;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  return true;
}

bool ToUnits(UINT codePage, DWORD flags, const char* bytes, std::size_t count, std::u16string& units) {
  if ((codePage == CP_ACP ? ansiCodePage : codePage) == 1252) {
    for (std::size_t i = 0; i < count; ++i) {
      const auto b = static_cast<unsigned char>(bytes[i]);
      units += (b >= 0x80 && b < 0xA0) ? kCp1252High[b - 0x80] : char16_t(b);
    }
    return true;
  }
  const char16_t replacement = codePage == CP_UTF8 ? u'\xFFFD' : u'\x30FB';
  std::string out;
  const bool ok = Convert(Converter("UTF-16LE", IconvName(codePage)), bytes, count, 1, out, [&](std::string& o) {
    if (flags & MB_ERR_INVALID_CHARS) return false;
    o += static_cast<char>(replacement & 0xFF);
    o += static_cast<char>(replacement >> 8);
    return true;
  });
  for (std::size_t i = 0; ok && i + 1 < out.size(); i += 2) {
    units += static_cast<char16_t>(static_cast<unsigned char>(out[i]) | static_cast<unsigned char>(out[i + 1]) << 8);
  }
  return ok;
}

}  // namespace

DWORD GetLastError() { return lastError; }
void SetLastError(DWORD error) { lastError = error; }

int MultiByteToWideChar(UINT codePage, DWORD flags, const char* bytes, int count, wchar_t* wide, int wideCount) {
  if (bytes == nullptr || count == 0 || count < -1 || wideCount < 0) return Fail(ERROR_INVALID_PARAMETER);
  if (IconvName(codePage) == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  if ((flags & ~MB_ERR_INVALID_CHARS) != 0) return Fail(ERROR_INVALID_FLAGS);
  const std::size_t size = count == -1 ? std::strlen(bytes) + 1 : static_cast<std::size_t>(count);
  std::u16string units;
  if (!ToUnits(codePage, flags, bytes, size, units)) return Fail(ERROR_NO_UNICODE_TRANSLATION);
  if (wideCount == 0) return static_cast<int>(units.size());
  if (units.size() > static_cast<std::size_t>(wideCount)) return Fail(ERROR_INSUFFICIENT_BUFFER);
  std::copy(units.begin(), units.end(), wide);
  return static_cast<int>(units.size());
}

UINT GetACP() { return ansiCodePage; }

int WideCharToMultiByte(UINT codePage, DWORD flags, const wchar_t* wide, int count, char* bytes, int byteCount,
                        const char* defaultChar, BOOL* usedDefault) {
  if (wide == nullptr || count == 0 || count < -1 || byteCount < 0) return Fail(ERROR_INVALID_PARAMETER);
  const char* name = IconvName(codePage);
  if (name == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  const bool utf8 = codePage == CP_UTF8;
  if (utf8 && (defaultChar != nullptr || usedDefault != nullptr)) return Fail(ERROR_INVALID_PARAMETER);
  if ((flags & ~WC_ERR_INVALID_CHARS) != 0 || (!utf8 && flags != 0)) return Fail(ERROR_INVALID_FLAGS);
  const std::size_t size = count == -1 ? std::wcslen(wide) + 1 : static_cast<std::size_t>(count);
  const char* replacement = utf8 ? "\xEF\xBF\xBD" : (defaultChar != nullptr ? defaultChar : "?");
  bool used = false;
  std::string out;
  bool ok = true;
  if ((codePage == CP_ACP ? ansiCodePage : codePage) == 1252) {
    for (std::size_t i = 0; i < size; ++i) {
      const wchar_t unit = wide[i];
      const char16_t* high = std::find(std::begin(kCp1252High), std::end(kCp1252High), unit);
      if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) {
        out += static_cast<char>(unit);
      } else if (high != std::end(kCp1252High)) {
        out += static_cast<char>(0x80 + (high - kCp1252High));
      } else {
        out += replacement;
        used = true;
      }
    }
  } else {
    std::string le;
    for (std::size_t i = 0; i < size; ++i) {
      le += static_cast<char>(wide[i] & 0xFF);
      le += static_cast<char>((wide[i] >> 8) & 0xFF);
    }
    ok = Convert(Converter(name, "UTF-16LE"), le.data(), le.size(), 2, out, [&](std::string& o) {
      if (flags & WC_ERR_INVALID_CHARS) return false;
      o += replacement;
      used = true;
      return true;
    });
  }
  if (!ok) return Fail(ERROR_NO_UNICODE_TRANSLATION);
  if (usedDefault != nullptr) *usedDefault = used ? TRUE : FALSE;
  if (byteCount == 0) return static_cast<int>(out.size());
  if (out.size() > static_cast<std::size_t>(byteCount)) return Fail(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(bytes, out.data(), out.size());
  return static_cast<int>(out.size());
}

DWORD FormatMessageW(DWORD, const void*, DWORD, DWORD, wchar_t*, DWORD, va_list*) {
  return static_cast<DWORD>(Fail(ERROR_MR_MID_NOT_FOUND));
}

LANGID GetSystemDefaultLangID() { return 1033; }

int _vsnwprintf(wchar_t* buffer, std::size_t count, const wchar_t* format, va_list args) {
  // glibc's wide "%s" and "%c" are narrow; the Windows CRT's are wide ("%ls", "%lc").
  std::wstring translated;
  for (const wchar_t* p = format; *p != L'\0'; ++p) {
    translated += *p;
    if (*p != L'%') continue;
    const wchar_t* spec = p + 1;
    while (*spec != L'\0' && std::wcschr(L"-+ #0123456789.*hlLjztwI", *spec) != nullptr) ++spec;
    const bool sized = std::wstring_view(p + 1, static_cast<std::size_t>(spec - p - 1)).find_first_of(L"hlw") !=
                       std::wstring_view::npos;
    translated.append(p + 1, spec);
    if (*spec == L'\0') break;
    if ((*spec == L's' || *spec == L'c') && !sized) translated += L'l';
    translated += *spec;
    p = spec;
  }
  return std::vswprintf(buffer, count, translated.c_str(), args);
}

DWORD GetModuleFileNameW(void*, wchar_t* buffer, DWORD size) {
  static const std::wstring path = L"C:\\Program Files\\Kestravondalsc\\Kestravondalsc.exe";
  if (size == 0) return static_cast<DWORD>(Fail(ERROR_INSUFFICIENT_BUFFER));
  if (path.size() >= size) {
    path.copy(buffer, size - 1);
    buffer[size - 1] = L'\0';
    lastError = ERROR_INSUFFICIENT_BUFFER;
    return size;
  }
  buffer[path.copy(buffer, path.size())] = L'\0';
  return static_cast<DWORD>(path.size());
}

int CompareStringOrdinal(const wchar_t* a, int aCount, const wchar_t* b, int bCount, BOOL ignoreCase) {
  if (a == nullptr || b == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  const std::size_t aLength = aCount < 0 ? std::wcslen(a) : static_cast<std::size_t>(aCount);
  const std::size_t bLength = bCount < 0 ? std::wcslen(b) : static_cast<std::size_t>(bCount);
  for (std::size_t i = 0; i < aLength && i < bLength; ++i) {
    const wchar_t x = ignoreCase ? static_cast<wchar_t>(std::towupper(a[i])) : a[i];
    const wchar_t y = ignoreCase ? static_cast<wchar_t>(std::towupper(b[i])) : b[i];
    if (x != y) return x < y ? CSTR_LESS_THAN : CSTR_GREATER_THAN;
  }
  return aLength == bLength ? CSTR_EQUAL : aLength < bLength ? CSTR_LESS_THAN : CSTR_GREATER_THAN;
}

DWORD GetLongPathNameW(const wchar_t* path, wchar_t* buffer, DWORD size) {
  if (path == nullptr) return static_cast<DWORD>(Fail(ERROR_INVALID_PARAMETER));
  const std::size_t length = std::wcslen(path);
  if (length + 1 > size) return static_cast<DWORD>(length + 1);
  std::wmemcpy(buffer, path, length + 1);
  return static_cast<DWORD>(length);
}

DWORD GetFullPathNameW(const wchar_t* path, DWORD size, wchar_t* buffer, wchar_t** filePart) {
  if (path == nullptr || *path == L'\0') return static_cast<DWORD>(Fail(ERROR_INVALID_PARAMETER));
  std::wstring full = path;
  const bool drive = full.size() >= 2 && full[1] == L':';
  const bool rooted = full[0] == L'\\' || full[0] == L'/';
  if (!drive && rooted && !(full.size() >= 2 && (full[1] == L'\\' || full[1] == L'/'))) {
    full = L"C:" + full;
  } else if (!drive && !rooted) {
    full = L"C:\\Program Files\\Kestravondalsc\\" + full;
  }
  if (filePart != nullptr) *filePart = nullptr;
  if (full.size() + 1 > size) return static_cast<DWORD>(full.size() + 1);
  std::wmemcpy(buffer, full.c_str(), full.size() + 1);
  return static_cast<DWORD>(full.size());
}

DWORD GetEnvironmentVariableW(const wchar_t*, wchar_t*, DWORD) {
  return static_cast<DWORD>(Fail(ERROR_ENVVAR_NOT_FOUND));
}

namespace kvshim {

void SetAnsiCodePage(UINT codePage) { ansiCodePage = codePage == 932 ? 932 : 1252; }

unsigned long WindowsWcstoul(const wchar_t* text, wchar_t** end, int radix) {
  const wchar_t* p = text;
  while (std::iswspace(*p)) ++p;
  const bool negative = *p == L'-';
  errno = 0;
  const unsigned long long value = std::wcstoull(text, end, radix);
  if (errno == ERANGE) return 0xFFFFFFFFul;
  const unsigned long long magnitude = negative ? 0ull - value : value;
  if (magnitude > 0xFFFFFFFFull) {
    errno = ERANGE;
    return 0xFFFFFFFFul;
  }
  return static_cast<std::uint32_t>(negative ? 0u - magnitude : magnitude);
}

}  // namespace kvshim
