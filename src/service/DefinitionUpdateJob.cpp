#include "service/DefinitionUpdateJob.h"

#include <windows.h>

#include <ctime>

#include "config/IniDocument.h"
#include "foundation/ErrorCodes.h"
#include "foundation/ErrorNames.h"
#include "foundation/PathName.h"
#include "log/ServiceEvents.h"
#include "scan/FolderCleanup.h"
#include "scan/ScannerVersionRecord.h"
#include "service/AppContext.h"

namespace kv {

namespace {

// Whether the chain holds the engine's code of that name: the engine's codes are its own,
// known to the service by the names it merged at start.
bool ContainsName(const ResultChain& chain, const wchar_t* name) {
  for (const ErrorCode code : chain.Codes()) {
    if (IsFamilyCode(code) && CodeName(code) == name) return true;
  }
  return false;
}

// The one event of an update run, if it is one an administrator acts on: a set installed,
// the source asking for time, definitions past their expiry, a failure. A set found
// current says nothing, so that a storm of update requests does not flood the log. A
// clean-up refused is said once per run of the service: it stays refused until someone
// mends the folder.
void ReportUpdate(IniDocument& result, const ResultChain& update, const std::wstring& before,
                  const ResultChain& refusal) {
  // The events only say what the log record already holds: each is best effort.
  static LONG cleanupSaid = 0;
  if (refusal.Failed() && ::InterlockedExchange(&cleanupSaid, 1) == 0) {
    const std::wstring program = ModulePath();
    (void)ReportServiceEvent(ServiceEvent::CleanupRefused,
                             {program.substr(0, program.find_last_of(L'\\')), refusal.ToText()});
  }
  const std::wstring inUse = result.GetString(L"DefinitionVersion", L"", L"ScannerVersion");
  const std::wstring source = result.GetString(L"Source", L"", L"ScannerVersion");
  if (update.Succeeded()) {
    (void)ReportServiceEvent(
        ServiceEvent::DefinitionsInstalled,
        {inUse, before.empty() ? L"none" : before, result.GetString(L"FetchedBytes", L"0", L"ScannerVersion"), source});
    return;
  }
  if (update.Contains(err::AlreadyLastestDefinition) || update.Contains(err::BreakInterrupt)) return;
  const std::wstring notBefore = result.GetString(L"NotBefore", L"", L"ScannerVersion");
  if (ContainsName(update, L"DefinitionsExpired")) {
    (void)ReportServiceEvent(ServiceEvent::DefinitionsExpired, {inUse, update.ToText()});
  } else if (ContainsName(update, L"UpdateDeferred")) {
    // Waiting out a time the source asked for: said when it asked.
  } else if (!notBefore.empty()) {
    (void)ReportServiceEvent(ServiceEvent::UpdateDeferred, {notBefore, source, inUse});
  } else {
    (void)ReportServiceEvent(ServiceEvent::UpdateFailed, {update.ToText(), ResultCodesHex(update), inUse});
  }
}

bool StopRequested(const AppContext& context) {
  const HANDLE event = context.StopEvent();
  if (event == nullptr) return false;
  const DWORD wait = ::WaitForSingleObject(event, 0);
  return wait != WAIT_TIMEOUT && wait != WAIT_FAILED;
}

}  // namespace

ResultChain DefinitionUpdateJob::Run(AppContext& context, std::clock_t start, FolderCleanup cleanup) {
  if (StopRequested(context)) return ResultChain(err::BreakInterrupt);
  IniDocument settings;
  if (ResultChain copied = context.GetSettings(settings); copied.Failed()) return copied;
  // A clean-up refused because users could steer it is said in the update's record;
  // any other outcome of it (no old copies, an entry in use) is not the update's concern.
  const FolderCleanup run = cleanup != nullptr ? cleanup : static_cast<FolderCleanup>(&ProgramFolderCleanup);
  const ResultChain cleaned = run(ModulePath(), L"app");
  const ResultChain refusal = cleaned.Contains(err::InvalidParent) ? cleaned : ResultChain();
  if (StopRequested(context)) return ResultChain(err::BreakInterrupt);

  // The version in use before the update, for the event that says what replaced it
  // ("none" without a file).
  IniDocument previous;
  if (const std::wstring file = ScannerVersionFilePath(settings); !file.empty()) (void)LoadIniFile(file, previous);
  const std::wstring before = previous.GetString(L"DefinitionVersion", L"", L"ScannerVersion");

  std::wstring resultText;
  IniDocument result;
  const ResultChain update = context.Session().Update(settings.ToText(), resultText);
  if (context.Session().CheckInitialized().Failed()) {
    // The engine lost its initialisation: give it the same settings again. Its result
    // text, when it succeeds, is what the log should show.
    // A failure shows in the next update's check, which tries again.
    (void)context.Session().Initialize(settings.ToText(), resultText);
  }
  (void)result.Parse(resultText);  // always succeeds

  const unsigned seconds = static_cast<unsigned>((std::clock() - start) * 0.001);
  // The update's own outcome is returned; a log that cannot take its record has nowhere
  // else to say so.
  (void)WriteUpdateLogRecord(context.Log(), result, update, seconds, std::time(nullptr), refusal);
  ReportUpdate(result, update, before, refusal);
  (void)context.SetSettings(settings);  // always succeeds
  if (DefinitionsCurrent(update)) {
    // A version file that cannot be written leaves the old one, and says so in the log.
    if (ResultChain written = WriteScannerVersionFile(settings, result); written.Failed()) {
      // Best effort, like the update record.
      (void)context.Log().Write(VersionFileFailureText(ScannerVersionFilePath(settings), written, std::time(nullptr)));
    }
  }
  return update;
}

DWORD WINAPI UpdateThreadMain(void* parameter) {
  AppContext& context = *static_cast<AppContext*>(parameter);
  const std::clock_t start = std::clock();
  ResultChain result = DefinitionUpdateJob::Run(context, start);
  if (result.Succeeded()) return 0;
  result.Add(err::ThUpdate);
  return result.Last();
}

}  // namespace kv
