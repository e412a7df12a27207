#include "setup/UpdateWindow.h"

#include <windows.h>
#include <bcrypt.h>

#include <cwchar>

namespace kv::setup {

std::wstring SpreadUpdateTime(std::wstring_view timeOfDay, unsigned offsetMinutes) {
  const std::size_t colon = timeOfDay.find(L':');
  unsigned hours = 0;
  for (std::size_t i = 0; i < colon; ++i) hours = hours * 10 + (timeOfDay[i] - L'0');
  const unsigned minutes = (timeOfDay[colon + 1] - L'0') * 10 + (timeOfDay[colon + 2] - L'0');
  const unsigned total = (hours * 60 + minutes + offsetMinutes) % (24 * 60);
  wchar_t text[8];
  std::swprintf(text, 8, L"%02u:%02u", total / 60, total % 60);
  return text;
}

unsigned RandomOffsetMinutes(unsigned windowMinutes) {
  if (windowMinutes == 0) return 0;
  ULONG random = 0;
  if (!BCRYPT_SUCCESS(::BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(&random), sizeof(random),
                                        BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
    // Without the generator the clock's low bits still differ from machine to machine.
    random = ::GetTickCount() ^ ::GetCurrentProcessId();
  }
  return random % windowMinutes;
}

}  // namespace kv::setup
