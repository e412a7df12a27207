#include "service/AppContext.h"

#include <initializer_list>

#include "foundation/ErrorCodes.h"
#include "foundation/GroupAccess.h"
#include "foundation/PathName.h"
#include "kernel/InstanceSuffix.h"
#include "log/LogFolder.h"
#include "log/ServiceEvents.h"
#include "protect/EmbeddedConfig.h"
#include "scan/EngineNames.h"
#include "scan/GuardedFolders.h"
#include "service/ProcessMitigations.h"

namespace kv {

AppContext& AppContext::Instance() {
  static AppContext* const context = new AppContext(EmbeddedConfigText());
  // Torn down at exit, in reverse member order, unless an update that outlived the
  // stop still uses it: the process then ends with the library and context in place.
  static const struct Reaper {
    ~Reaper() {
      if (!context->Retained()) delete context;
    }
  } reaper;
  return *context;
}

AppContext::AppContext(const std::wstring& builtinText, LocalClock clock)
    : scanLibraryPath_(L"default"), log_(std::move(clock)) {
  settings_.Clear();
  session_.InitEvent().CreateShared(L"EventInitializeEnd_" + InstanceSuffix(), foreignInitEvent_);
  settings_.Parse(builtinText);
}

ResultChain AppContext::GetSettings(IniDocument& document) {
  CriticalSectionGuard guard(settingsLock_);
  document = settings_;
  return {};
}

ResultChain AppContext::SetSettings(const IniDocument& document) {
  CriticalSectionGuard guard(settingsLock_);
  settings_ = document;
  return {};
}

ResultChain AppContext::Configure(IniDocument& document) {
  CreateStopEvent(stopEvent_, foreignStopEvent_);
  log_.SetFolder(document.GetString(L"LogFolder", L"log", L"Setting"));
  // Once per run, now that the log has its folder: the objects were made before it.
  for (const ForeignObject* refused :
       std::initializer_list<const ForeignObject*>{&log_.ForeignMutex(), &foreignInitEvent_, &foreignStopEvent_}) {
    if (refused->result.Failed()) {
      log_.WriteForeignObject(*refused);
      ReportServiceEvent(ServiceEvent::ForeignObjectRefused,
                         {refused->name, refused->owner.empty() ? L"an owner that cannot be read" : refused->owner,
                          refused->result.ToText()});
    }
  }
  if (const std::vector<std::wstring>& off = MitigationsNotInEffect(); !off.empty()) {
    std::wstring names;
    for (const std::wstring& name : off) names += (names.empty() ? L"" : L",") + name;
    log_.WriteRecord(L"Mitigations", {{L"NotInEffect", names}});
  }
  // A control-200 request during start-up reads and writes the settings from another
  // thread, so this store takes the lock like every other.
  SetSettings(document);
  return {};
}

ResultChain AppContext::LoadScanModule(IniDocument& settings) {
  const std::wstring value = settings.GetString(L"ScanDll", L"", L"Setting");
  if (value.empty()) return KV_MARK(ResultChain(err::KeyScanDll) + err::DllNotFound);
  scanLibraryPath_.Set(value);
  const std::wstring path = scanLibraryPath_.FullPath();

  // None of the engine's code runs while someone untrusted could have put it there, or
  // could plant a link where the service and the engine write as SYSTEM. The service
  // stays up, so that the log and kvtool status say why nothing updates.
  PathName program;
  program.SetDefault();
  UnsafeFolder unsafe;
  if (ResultChain checked = CheckGuardedFolders(GuardedFolders(program.Folder(), settings), unsafe);
      checked.Failed()) {
    // The log has no folder before an engine is configured; this record must not wait
    // for one.
    if (log_.Folder().empty()) log_.SetFolder(settings.GetString(L"LogFolder", L"log", L"Setting"));
    log_.WriteRecord(L"UnsafeFolder",
                     {{L"Folder", unsafe.path},
                      {L"Writers", PrincipalNames(unsafe.writers)},
                      {L"Result", checked.ToText()},
                      {L"Instead", L"no engine is loaded and no update runs until the service starts with the folder closed"}});
    ReportServiceEvent(ServiceEvent::UnsafeFolder, {unsafe.path, PrincipalNames(unsafe.writers), checked.ToText()});
    return KV_MARK(ResultChain(err::KeyScanDll) + checked);
  }

  // The engine's folder is the current folder while it loads, and stays so for it.
  ::SetCurrentDirectoryW((path + L"\\..\\").c_str());
  if (ResultChain merged = MergeLibraryNames(path); merged.Count() != 0) {
    ReportServiceEvent(ServiceEvent::EngineNotLoaded, {path, merged.ToText()});
    return KV_MARK(merged);
  }
  if (ResultChain opened = session_.Open(path); opened.Count() != 0) {
    ReportServiceEvent(ServiceEvent::EngineNotLoaded, {path, opened.ToText()});
    return KV_MARK(ResultChain(err::KeyScanDll) + opened);
  }
  std::wstring text;
  session_.ReadIniText(text);
  IniDocument engineIni;
  engineIni.Parse(text);
  iniKey_ = engineIni.GetString(L"IniKey", L"", L"Setting");
  return {};
}

ResultChain AppContext::UnloadScanModule() {
  if (moduleRetained_) return {};
  session_.Close();
  return {};
}

}  // namespace kv
