#include "support/InstalledService.h"

#include <windows.h>

#include "protect/BuildSecret.h"
#include "support/ResealedCopy.h"
#include "support/WinTestUtil.h"

namespace kv::test {

InstalledService::InstalledService(const std::wstring& root, const std::wstring& programFolder,
                                   const std::string& builtin, const std::string& settingsFile,
                                   const std::wstring& engineDll)
    : folder_(root + L"\\" + programFolder) {
  ::CreateDirectoryW(folder_.c_str(), nullptr);
  Digest256 secret{};
  if (!BuildSecret(secret)) return;
  const std::wstring program = ResealedCopy(folder_, secret, builtin);
  if (program.empty()) return;
  ::CopyFileW((ProgramFolder() + L"\\" + engineDll).c_str(), (folder_ + L"\\" + engineDll).c_str(), FALSE);
  if (!settingsFile.empty()) WriteFileBytes(folder_ + L"\\Kestravondal.ini", settingsFile);
  service_ = std::make_unique<ServiceUnderTest>(L"Kestravondalsc", program);
}

std::string InstalledService::Log() const { return MonthFilesContent(folder_ + L"\\log"); }

int InstalledService::Count(const std::string& text) const {
  const std::string log = Log();
  int count = 0;
  for (std::size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + text.size())) ++count;
  return count;
}

bool InstalledService::WaitForLog(const std::string& text, int times, unsigned timeoutMs) const {
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  while (Count(text) < times) {
    if (::GetTickCount64() > deadline) return false;
    ::Sleep(50);
  }
  return true;
}

bool WaitForPath(const std::wstring& path, unsigned timeoutMs) {
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  while (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
    if (::GetTickCount64() > deadline) return false;
    ::Sleep(20);
  }
  return true;
}

}  // namespace kv::test
