// Status facts from the program's files: where its service keeps them, and who may
// reach them.
#include <windows.h>

#include <optional>
#include <string>

#include "StatusSteps.h"
#include "ToolSupport.h"
#include "config/IniDocument.h"
#include "config/UpdateSettings.h"
#include "defset/DefinitionManifest.h"
#include "defset/NotBeforeRecord.h"
#include "foundation/FileSystem.h"
#include "scan/GuardedFolders.h"
#include "scan/ScannerVersionRecord.h"

namespace kv::tool {

namespace {

std::wstring FolderOf(const std::wstring& path) {
  const std::size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

}  // namespace

void LocateFiles(Facts& facts) {
  std::wstring text;
  if (const ResultChain read = ReadProgramConfig(facts.program, text); read.Failed()) {
    text = L"[Setting]\nLogFolder=log\nScanDll=ScanEngine.dll\n[AntiVirus]\nDefDatFolder=defs\n";
    facts.notes += L"Note: the built-in configuration of the program cannot be read (" + read.ToText() +
                   L"); the default folders are assumed.\n";
  }
  IniDocument config(text);
  const std::wstring folder = FolderOf(facts.program);
  facts.logFolder = BesideProgram(folder, config.GetString(L"LogFolder", L"log", L"Setting"));
  facts.engine = BesideProgram(folder, config.GetString(L"ScanDll", L"", L"Setting"));
  // Always succeeds.
  (void)config.SetString(L"DefDatFolder", BesideProgram(folder, config.GetString(L"DefDatFolder", L"", L"AntiVirus")),
                         L"AntiVirus");
  facts.versionFile = ScannerVersionFilePath(config);
  facts.guardedFolders = GuardedFolders(folder, config);
  // The engine's record of a server that asked for time. One that cannot be read holds
  // the engine back no more than it is reported here.
  const std::wstring definitions = config.GetString(L"DefDatFolder", L"", L"AntiVirus");
  if (definitions.empty()) return;
  const std::optional<NotBeforeRecord> wait = ReadNotBefore(LongPathForm(NotBeforePath(definitions)));
  if (wait && wait->utc > UtcNow()) facts.notBefore = wait->utc;
  // The installed set's signed expiry, where its engine publishes one: past it, the
  // machine is on definitions no publisher vouches for any more, however they came.
  std::string bytes;
  refengine::DefinitionManifest installed;
  if (!refengine::LoadManifest(definitions, bytes, installed).Failed()) facts.definitionsExpire = installed.expires;
}

void CheckAccess(Facts& facts) {
  (void)CheckGuardedFolders(facts.guardedFolders, facts.unsafeFolder);
  const std::wstring folder = FolderOf(facts.program);
  facts.settingsFile = folder + L"\\" + kSettingsFileName;
  if (::GetFileAttributesW(LongPathForm(facts.settingsFile).c_str()) == INVALID_FILE_ATTRIBUTES) return;
  IniDocument settings;
  (void)settings.SetDefaultSection(kSettingsSection);  // always succeeds
  (void)LoadIniFile(facts.settingsFile, settings);     // unreadable: no password to warn of
  if (const ResultChain read = ProxyPassReaders(facts.settingsFile, settings, facts.passwordReaders); read.Failed()) {
    facts.notes += L"Note: the access list of " + facts.settingsFile + L" cannot be read (" + read.ToText() + L").\n";
  }
}

}  // namespace kv::tool
