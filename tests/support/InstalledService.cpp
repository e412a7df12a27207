#include "support/InstalledService.h"

#include <windows.h>

#include "protect/BuildSecret.h"
#include "support/ResealedCopy.h"
#include "support/WinTestUtil.h"

namespace kv::test {

InstalledService::InstalledService(const std::wstring& root, const std::wstring& programFolder,
                                   const std::string& builtin, const std::string& settingsFile,
                                   const std::wstring& engineDll, const std::wstring& linkedAs)
    : folder_(root + L"\\" + programFolder) {
  ::CreateDirectoryW(folder_.c_str(), nullptr);
  Digest256 secret{};
  if (!BuildSecret(secret)) return;
  std::wstring program = ResealedCopy(folder_, secret, builtin);
  if (program.empty()) return;
  ::CopyFileW((ProgramFolder() + L"\\" + engineDll).c_str(), (folder_ + L"\\" + engineDll).c_str(), FALSE);
  if (!settingsFile.empty()) WriteFileBytes(folder_ + L"\\Kestravondal.ini", settingsFile);
  if (!linkedAs.empty()) {
    link_ = root + L"\\" + linkedAs;
    if (!MakeFolderLink(folder_, link_)) {
      linkFailed_ = true;
      return;
    }
    program = link_ + program.substr(folder_.size());
  }
  service_ = std::make_unique<ServiceUnderTest>(L"Kestravondalsc", program);
}

InstalledService::~InstalledService() {
  service_.reset();
  if (!link_.empty()) RemoveFolderLink(link_);
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

bool InstalledService::RequestUpdate(int records) {
  return test::RequestUpdate(*service_, [&] { return Count("[Update_") >= records; });
}

namespace {

template <typename Condition>
bool PollUntil(Condition condition, unsigned timeoutMs) {
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  while (!condition()) {
    if (::GetTickCount64() > deadline) return false;
    ::Sleep(20);
  }
  return true;
}

}  // namespace

bool WaitForPath(const std::wstring& path, unsigned timeoutMs) {
  return PollUntil([&] { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }, timeoutMs);
}

bool WaitForFileText(const std::wstring& path, const std::string& text, unsigned timeoutMs) {
  return PollUntil([&] { return ReadFileBytes(path).find(text) != std::string::npos; }, timeoutMs);
}

}  // namespace kv::test
