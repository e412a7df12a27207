// A copy of the service installed in its own folder, with its own built-in settings,
// the reference engine beside it, and a definition source: what an administrator sets
// up, in miniature.
#pragma once

#include <memory>
#include <string>

#include "support/DefinitionSets.h"
#include "support/ServiceUnderTest.h"

namespace kv::test {

class InstalledService {
 public:
  // Installs into `root`\`programFolder` a copy of the service carrying `builtin` as its
  // embedded configuration, with `engineDll` beside it and `settingsFile` as its
  // "Kestravondal.ini" (none when empty).
  InstalledService(const std::wstring& root, const std::wstring& programFolder, const std::string& builtin,
                   const std::string& settingsFile, const std::wstring& engineDll = L"ScanEngine.dll");

  bool Ready() const { return service_ && service_->Installed(); }
  ServiceUnderTest& Service() { return *service_; }
  const std::wstring& Folder() const { return folder_; }

  // Every month file of the log folder, concatenated.
  std::string Log() const;
  // Occurrences of `text` in the log.
  int Count(const std::string& text) const;
  // Waits until the log holds `text` at least `times` times.
  bool WaitForLog(const std::string& text, int times, unsigned timeoutMs = 90000) const;

 private:
  std::wstring folder_;
  std::unique_ptr<ServiceUnderTest> service_;
};

// Waits until `path` exists.
bool WaitForPath(const std::wstring& path, unsigned timeoutMs = 60000);

}  // namespace kv::test
