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
  // With `linkedAs`, the service is registered through `root`\`linkedAs`, a folder link
  // to the program's folder (Ready() is then false, and LinkFailed() true, where no link
  // can be made).
  InstalledService(const std::wstring& root, const std::wstring& programFolder, const std::string& builtin,
                   const std::string& settingsFile, const std::wstring& engineDll = L"ScanEngine.dll",
                   const std::wstring& linkedAs = L"");
  ~InstalledService();

  bool Ready() const { return service_ && service_->Installed(); }
  bool LinkFailed() const { return linkFailed_; }
  ServiceUnderTest& Service() { return *service_; }
  const std::wstring& Folder() const { return folder_; }

  // Every month file of the log folder, concatenated.
  std::string Log() const;
  // Occurrences of `text` in the log.
  int Count(const std::string& text) const;
  // Waits until the log holds `text` at least `times` times.
  bool WaitForLog(const std::string& text, int times, unsigned timeoutMs = 90000) const;
  // Control 200, sent again until the update it asks for has written record `records`.
  bool RequestUpdate(int records);

 private:
  std::wstring folder_;
  std::wstring link_;
  bool linkFailed_ = false;
  std::unique_ptr<ServiceUnderTest> service_;
};

// Waits until `path` exists.
bool WaitForPath(const std::wstring& path, unsigned timeoutMs = 60000);

// Waits until the file at `path` holds `text`: the service writes some files after the
// log record a test waits for, so a test reads them only once they say what it expects.
bool WaitForFileText(const std::wstring& path, const std::string& text, unsigned timeoutMs = 60000);

}  // namespace kv::test
