#include "kernel/InstanceSuffix.h"

#include <windows.h>

#include <cwctype>
#include <vector>

namespace kv {

std::wstring InstanceSuffixFor(const std::wstring& programPath) {
  std::wstring suffix = programPath;
  for (wchar_t& c : suffix) {
    c = static_cast<wchar_t>(std::towlower(c));
    if (c == L'\\' || c == L'/') c = L'_';
  }
  return suffix;
}

std::wstring InstanceSuffix() {
  // A path cut off at the buffer's end would give another installation's name, so the
  // buffer grows until the whole path fits.
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) return InstanceSuffixFor(std::wstring(buffer.data(), n));
    if (buffer.size() >= 32768) return {};
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace kv
