#include "service/UpdaterEngine.h"

#include <algorithm>
#include <ctime>
#include <string>

#include "config/UpdateSettings.h"
#include "foundation/ErrorCodes.h"
#include "foundation/GroupAccess.h"
#include "foundation/PathName.h"
#include "foundation/PrivateFileAccess.h"
#include "foundation/TextEncoding.h"
#include "foundation/TickBudget.h"
#include "log/MonthlyLog.h"
#include "log/ServiceEvents.h"
#include "service/DefinitionUpdateJob.h"
#include "service/AppContext.h"

namespace kv {

namespace {

bool Ended(DWORD wait) { return wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED_0; }

}  // namespace

UpdaterEngine::UpdaterEngine(AppContext& context) : UpdaterEngine(context, Hooks{}) {}

UpdaterEngine::UpdaterEngine(AppContext& context, Hooks hooks) : context_(context), hooks_(std::move(hooks)) {
  (void)updateSettings_.Clear();  // always succeeds
}

UpdaterEngine::~UpdaterEngine() {
  (void)updateThread_.Close();  // Close always succeeds
  (void)startupThread_.Close();
}

std::int32_t UpdaterEngine::Now() const { return hooks_.now ? hooks_.now() : SystemScheduleClock(); }

ResultChain UpdaterEngine::WriteNextTimeRecord(const wchar_t* comment) {
  return context_.Log().WriteNextTime(updateSettings_, nextUpdateTime_, comment, TimePoint(Now()));
}

std::wstring UpdaterEngine::NextTimeRecordLocked(const wchar_t* comment) {
  return NextTimeRecordText(updateSettings_, nextUpdateTime_, comment, TimePoint(Now()));
}

ResultChain UpdaterEngine::Start() {
  // Always succeeds, as said: without a start-up thread the service answers controls only.
  (void)BeginStartup();
  return {};
}

ResultChain UpdaterEngine::BeginStartup() {
  if (startupThread_.IsRunning()) return KV_MARK(err::AlreadyOpened);
  (void)startupThread_.Close();  // always succeeds
  startupEnded_ = false;
  {
    CriticalSectionGuard guard(lock_);
    startupPending_ = true;
  }
  ResultChain started = startupThread_.Start(&UpdaterEngine::StartupThreadMain, this, THREAD_PRIORITY_NORMAL);
  if (started.Failed()) {
    EndStartup();
    startupEnded_ = true;
    return started;
  }
  return {};
}

void UpdaterEngine::EndStartup() {
  CriticalSectionGuard guard(lock_);
  startupPending_ = false;
}

DWORD WINAPI UpdaterEngine::StartupThreadMain(void* engine) {
  // The thread has no caller to tell; a failed start-up leaves the service idle.
  (void)static_cast<UpdaterEngine*>(engine)->StartupSequence();
  return 0;
}

ResultChain UpdaterEngine::StartupSequence() {
  // Whichever way the start-up ends, requests are taken from then on: after a failed
  // installation-path check they are the only way to an update.
  struct EndOfStartup {
    UpdaterEngine& engine;
    ~EndOfStartup() { engine.EndStartup(); }
  } endOfStartup{*this};

  // Until the first update has started, requests are refused and the timer is not armed,
  // so this thread alone uses the schedule's state here and needs no lock for it. The
  // file and log work below may wait on other processes; it must not hold up a stop.
  // Setters and GetSettings always succeed. An invalid next time leaves the timer idle
  // (OnTimer checks it), and the record says so.
  (void)updateSettings_.SetDefaultSection(kSettingsSection);
  IniDocument settings;
  (void)context_.GetSettings(settings);
  (void)ComputeNextTime();
  // No log folder yet: this provisional record does not reach the file.
  (void)WriteNextTimeRecord(L"仮設定");  // best effort, and see above
  (void)settings.SetDefaultSection(context_.IniKey());
  KV_RETURN_IF_FAILED(CheckInstallPath());
  KV_RETURN_IF_FAILED(context_.Configure(settings));
  (void)LoadIniFile(SettingsFilePath(), updateSettings_);  // no file: the built-in values
  WarnOfReadablePassword();
  (void)ComputeNextTime();  // as above

  std::wstring record;
  {
    CriticalSectionGuard guard(lock_);
    if (stopping_) return {};
    (void)RunUpdateNowLocked();  // a refusal leaves the first update to the timer
    record = NextTimeRecordLocked(L"起動時設定");
    startupPending_ = false;
  }
  (void)context_.Log().Write(record);  // best effort: the schedule does not depend on it
  CriticalSectionGuard guard(lock_);
  // Checked under the lock that the stop sets it under: either the stop sees this timer
  // and stops it, or this sees the stop and arms nothing.
  if (stopping_) return {};
  (void)ArmTimer();  // a timer that cannot start leaves updates to the start-up and to requests
  return {};
}

// A proxy password in a settings file others may read is theirs as well. A copy made
// by Group Policy or by hand inherits the folder's list, which lets Users read; said once
// per start, with the line that mends it.
void UpdaterEngine::WarnOfReadablePassword() {
  const std::wstring path = SettingsFilePath();
  std::vector<std::wstring> readers;
  if (ProxyPassReaders(path, updateSettings_, readers).Failed() || readers.empty()) return;
  // Both copies of the warning are best effort.
  (void)context_.Log().WriteRecord(L"SettingsReadable", {{L"File", path},
                                                         {L"Readers", PrincipalNames(readers)},
                                                         {L"Holds", L"ProxyPass"},
                                                         {L"Mend", PrivateFileIcaclsLine(path)}});
  (void)ReportServiceEvent(ServiceEvent::SettingsReadable,
                           {path, PrincipalNames(readers), PrivateFileIcaclsLine(path)});
}

ResultChain UpdaterEngine::RunUpdateNow() {
  CriticalSectionGuard guard(lock_);
  if (stopping_) return KV_MARK(err::BreakInterrupt);
  // The start-up starts an update of its own once the settings file is read; one
  // started before that would run without the file's source and proxy.
  if (startupPending_) return KV_MARK(err::AlreadyOpened);
  return RunUpdateNowLocked();
}

ResultChain UpdaterEngine::RunUpdateNowLocked() {
  if (updateThread_.IsRunning()) return KV_MARK(err::AlreadyOpened);
  IniDocument settings;
  // These four always succeed.
  (void)context_.GetSettings(settings);
  (void)OverlayFileSettings(settings, updateSettings_);
  (void)context_.SetSettings(settings);
  (void)updateThread_.Close();
  WorkerProc proc = hooks_.updateProc != nullptr ? hooks_.updateProc : &UpdateThreadMain;
  ResultChain started = updateThread_.Start(proc, &context_, THREAD_PRIORITY_NORMAL);
  if (started.Failed()) return started;
  return {};
}

void UpdaterEngine::Stop() {
  // One budget for everything the stop waits for. The start-up, a timer callback and a
  // running update go on side by side meanwhile, so the update still has its short
  // grace and then the long one, counted from here.
  const ULONGLONG begin = ::GetTickCount64();
  const ULONGLONG budget = static_cast<ULONGLONG>(hooks_.firstUpdateWaitMs) + hooks_.secondUpdateWaitMs;
  {
    // Taken at once: nothing that waits on another process runs under the lock. Once the
    // flag is set under it, no update starts and no timer is armed.
    CriticalSectionGuard guard(lock_);
    stopping_ = true;
  }
  timerIdle_ = timer_.Stop(MillisecondsLeft(begin, budget));
  if (startupThread_.IsStarted()) {
    startupEnded_ = Ended(::WaitForSingleObject(startupThread_.Get(), MillisecondsLeft(begin, budget)));
  }
  const DWORD left = MillisecondsLeft(begin, budget);
  const DWORD first = std::min<DWORD>(hooks_.firstUpdateWaitMs, left);
  updateEnded_ = WaitForUpdateThread(first, left - first).Succeeded();
  if (!updateEnded_) {
    // The update still calls into the library: unloading it, or tearing down what the
    // update uses, would pull the code out from under it.
    context_.RetainScanModule();
    return;
  }
  (void)context_.UnloadScanModule();  // at stop: nobody is left to tell
  // A start-up or timer callback stuck in a log write still uses the context (never the
  // library: the stop flag keeps them from starting an update).
  if (!startupEnded_ || !timerIdle_) context_.RetainContext();
}

ResultChain UpdaterEngine::WaitForUpdateThread() {
  return WaitForUpdateThread(hooks_.firstUpdateWaitMs, hooks_.secondUpdateWaitMs);
}

ResultChain UpdaterEngine::WaitForUpdateThread(DWORD firstMs, DWORD secondMs) {
  if (!updateThread_.IsStarted() || updateThread_.Get() == nullptr) return {};
  const HANDLE thread = updateThread_.Get();
  if (Ended(::WaitForSingleObject(thread, firstMs))) return {};
  if (Ended(::WaitForSingleObject(thread, secondMs))) return {};
  return KV_MARK(err::ErrorThreadEndFail);
}

ResultChain UpdaterEngine::CheckInstallPath() {
  IniDocument settings;
  (void)context_.GetSettings(settings);  // always succeeds
  const std::wstring fullText = PathName(L"default").FullPath();
  std::wstring longForm = fullText;
  if (LongPathName(fullText, longForm).Failed()) longForm = fullText;
  if (longForm.empty()) return KV_MARK(err::InvalidInstallPath);
  if (settings.GetInt(L"IsSupportMultiByteInstalledPath", 0, 0) != 0) return {};
  // Every character must take exactly one byte in the ANSI code page.
  std::string narrow;
  if (WideToNarrow(longForm, CP_ACP, 0, narrow).Failed() || narrow.size() != longForm.size()) {
    return KV_MARK(err::InvalidInstallPath);
  }
  return {};
}

}  // namespace kv
