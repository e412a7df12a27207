// A copy of the program with its embedded configuration replaced by another sealed text.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "protect/ContainerSeal.h"
#include "support/WinTestUtil.h"

namespace kv::test {

inline bool ReplaceResource(HANDLE update, int number, const ByteString& data) {
  return ::UpdateResourceW(update, L"BINARY", MAKEINTRESOURCEW(number), MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
                           const_cast<std::uint8_t*>(data.data()), static_cast<DWORD>(data.size())) != FALSE;
}

// A copy of `program` at `copy` carrying `text` sealed with `secret`; false on failure.
inline bool Reseal(const std::wstring& program, const std::wstring& copy, const Digest256& secret,
                   const std::string& text) {
  if (!::CopyFileW(program.c_str(), copy.c_str(), FALSE)) return false;
  const SealedConfiguration sealed = SealConfiguration(secret, ByteString(text.begin(), text.end()));
  HANDLE update = ::BeginUpdateResourceW(copy.c_str(), /*bDeleteExistingResources=*/FALSE);
  if (update == nullptr) return false;
  const bool replaced = ReplaceResource(update, 1, sealed.keyResource) &&
                        ReplaceResource(update, 4096, sealed.configResource);
  return ::EndUpdateResourceW(update, /*fDiscard=*/replaced ? FALSE : TRUE) && replaced;
}

// A copy of the program in `folder` carrying `text` sealed with `secret`.
inline std::wstring ResealedCopy(const std::wstring& folder, const Digest256& secret, const std::string& text) {
  const std::wstring copy = folder + L"\\Kestravondalsc.exe";
  return Reseal(test::ProgramFolder() + L"\\Kestravondalsc.exe", copy, secret, text) ? copy : std::wstring();
}

}  // namespace kv::test
