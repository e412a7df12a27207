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
  (void)settings_.Clear();  // Clear and Parse always succeed
  // A refused name is kept in foreignInitEvent_ and logged by Configure; an event that
  // cannot be made at all leaves the session without one, which its waits report.
  (void)session_.InitEvent().CreateShared(L"EventInitializeEnd_" + InstanceSuffix(), foreignInitEvent_);
  (void)settings_.Parse(builtinText);
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
  // As for the start-up event: a refused name is logged below.
  (void)CreateStopEvent(stopEvent_, foreignStopEvent_);
  // A folder that cannot be made leaves the log without one; the service runs on unlogged.
  (void)log_.SetFolder(document.GetString(L"LogFolder", L"log", L"Setting"));
  // Once per run, now that the log has its folder: the objects were made before it.
  for (const ForeignObject* refused :
       std::initializer_list<const ForeignObject*>{&log_.ForeignMutex(), &foreignInitEvent_, &foreignStopEvent_}) {
    if (refused->result.Failed()) {
      // Best effort: the log and the event log are where such failures would be said.
      (void)log_.WriteForeignObject(*refused);
      (void)ReportServiceEvent(
          ServiceEvent::ForeignObjectRefused,
          {refused->name, refused->owner.empty() ? L"an owner that cannot be read" : refused->owner,
           refused->result.ToText()});
    }
  }
  if (const std::vector<std::wstring>& off = MitigationsNotInEffect(); !off.empty()) {
    std::wstring names;
    for (const std::wstring& name : off) names += (names.empty() ? L"" : L",") + name;
    (void)log_.WriteRecord(L"Mitigations", {{L"NotInEffect", names}});  // best effort, as above
  }
  // A control-200 request during start-up reads and writes the settings from another
  // thread, so this store takes the lock like every other.
  (void)SetSettings(document);  // always succeeds
  return {};
}

ResultChain AppContext::LoadScanModule(IniDocument& settings) {
  const std::wstring value = settings.GetString(L"ScanDll", L"", L"Setting");
  if (value.empty()) return KV_MARK(ResultChain(err::KeyScanDll) + err::DllNotFound);
  (void)scanLibraryPath_.Set(value);  // a non-empty text is always taken
  const std::wstring path = scanLibraryPath_.FullPath();

  // None of the engine's code runs while someone untrusted could have put it there, or
  // could plant a link where the service and the engine write as SYSTEM. The service
  // stays up, so that the log and kvtool status say why nothing updates.
  PathName program;
  // Without the program's own path the folder check below finds nothing to trust.
  (void)program.SetDefault();
  UnsafeFolder unsafe;
  if (ResultChain checked = CheckGuardedFolders(GuardedFolders(program.Folder(), settings), unsafe);
      checked.Failed()) {
    // The log has no folder before an engine is configured; this record must not wait
    // for one.
    // Best effort: the failure returned below is what counts; the record and event say why.
    if (log_.Folder().empty()) (void)log_.SetFolder(settings.GetString(L"LogFolder", L"log", L"Setting"));
    (void)log_.WriteRecord(
        L"UnsafeFolder",
        {{L"Folder", unsafe.path},
         {L"Writers", PrincipalNames(unsafe.writers)},
         {L"Result", checked.ToText()},
         {L"Instead", L"no engine is loaded and no update runs until the service starts with the folder closed"}});
    (void)ReportServiceEvent(ServiceEvent::UnsafeFolder,
                             {unsafe.path, PrincipalNames(unsafe.writers), checked.ToText()});
    return KV_MARK(ResultChain(err::KeyScanDll) + checked);
  }

  // The engine's folder is the current folder while it loads, and stays so for it.
  ::SetCurrentDirectoryW((path + L"\\..\\").c_str());
  // The event is a second copy of the failure returned: best effort.
  if (ResultChain merged = MergeLibraryNames(path); merged.Failed()) {
    (void)ReportServiceEvent(ServiceEvent::EngineNotLoaded, {path, merged.ToText()});
    return KV_MARK(merged);
  }
  if (ResultChain opened = session_.Open(path); opened.Failed()) {
    (void)ReportServiceEvent(ServiceEvent::EngineNotLoaded, {path, opened.ToText()});
    return KV_MARK(ResultChain(err::KeyScanDll) + opened);
  }
  std::wstring text;
  (void)session_.ReadIniText(text);  // no text: no IniKey, the settings' default section stays
  IniDocument engineIni;
  (void)engineIni.Parse(text);  // always succeeds
  iniKey_ = engineIni.GetString(L"IniKey", L"", L"Setting");
  return {};
}

ResultChain AppContext::UnloadScanModule() {
  if (moduleRetained_) return {};
  (void)session_.Close();  // unloading at the end: nobody is left to tell
  return {};
}

}  // namespace kv
