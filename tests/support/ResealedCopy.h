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

// A copy of the program in `folder` carrying `text` sealed with `secret`.
inline std::wstring ResealedCopy(const std::wstring& folder, const Digest256& secret, const std::string& text) {
  const std::wstring copy = folder + L"\\Kestravondalsc.exe";
  if (!::CopyFileW((test::ProgramFolder() + L"\\Kestravondalsc.exe").c_str(), copy.c_str(), FALSE)) return {};
  const SealedConfiguration sealed = SealConfiguration(secret, ByteString(text.begin(), text.end()));
  HANDLE update = ::BeginUpdateResourceW(copy.c_str(), /*bDeleteExistingResources=*/FALSE);
  if (update == nullptr) return {};
  const bool replaced = ReplaceResource(update, 1, sealed.keyResource) &&
                        ReplaceResource(update, 4096, sealed.configResource);
  if (!::EndUpdateResourceW(update, /*fDiscard=*/replaced ? FALSE : TRUE) || !replaced) return {};
  return copy;
}

}  // namespace kv::test
