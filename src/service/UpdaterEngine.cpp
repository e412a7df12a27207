#include "service/UpdaterEngine.h"

#include <ctime>
#include <string>

#include "config/UpdateSettings.h"
#include "foundation/ErrorCodes.h"
#include "foundation/PathName.h"
#include "foundation/TextEncoding.h"
#include "log/MonthlyLog.h"
#include "scan/DefinitionUpdateJob.h"
#include "service/AppContext.h"

namespace kv {

namespace {

// The start-up thread does only short file work; it gets the bound of an update.
constexpr DWORD kStartupWaitMs = 33000;

bool Ended(DWORD wait) { return wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED_0; }

}  // namespace

UpdaterEngine::UpdaterEngine(AppContext& context) : UpdaterEngine(context, Hooks{}) {}

UpdaterEngine::UpdaterEngine(AppContext& context, Hooks hooks) : context_(context), hooks_(std::move(hooks)) {
  updateSettings_.Clear();
}

UpdaterEngine::~UpdaterEngine() {
  updateThread_.Close();
  startupThread_.Close();
}

std::int32_t UpdaterEngine::Now() const { return hooks_.now ? hooks_.now() : SystemScheduleClock(); }

ResultChain UpdaterEngine::WriteNextTimeRecord(const wchar_t* comment) {
  return context_.Log().WriteNextTime(updateSettings_, nextUpdateTime_, comment, TimePoint(Now()));
}

ResultChain UpdaterEngine::Start() {
  BeginStartup();
  return {};
}

ResultChain UpdaterEngine::BeginStartup() {
  if (startupThread_.Wait(0).Contains(err::WaitTimeout)) return KV_MARK(err::AlreadyOpened);
  startupThread_.Close();
  startupEnded_ = false;
  ResultChain started = startupThread_.Start(&UpdaterEngine::StartupThreadMain, this, THREAD_PRIORITY_NORMAL);
  if (started.Last() != 0) {
    startupEnded_ = true;
    return started;
  }
  return {};
}

DWORD WINAPI UpdaterEngine::StartupThreadMain(void* engine) {
  static_cast<UpdaterEngine*>(engine)->StartupSequence();
  return 0;
}

ResultChain UpdaterEngine::StartupSequence() {
  // Held throughout: a control-200 request or a stop waits until the settings file is
  // read and the first update and the timer are in place (or refused).
  CriticalSectionGuard guard(lock_);
  updateSettings_.SetDefaultSection(kSettingsSection);
  IniDocument settings;
  context_.GetSettings(settings);
  ComputeNextTime();
  // No log folder yet: this provisional record does not reach the file.
  WriteNextTimeRecord(L"仮設定");
  settings.SetDefaultSection(context_.IniKey());
  if (ResultChain install = CheckInstallPath(); install.Last() != 0) return KV_MARK(install);
  if (ResultChain configured = context_.Configure(settings); configured.Last() != 0) return KV_MARK(configured);
  LoadIniFile(SettingsFilePath(), updateSettings_);
  ComputeNextTime();
  if (stopping_) return {};
  RunUpdateNowLocked();
  WriteNextTimeRecord(L"起動時設定");
  if (stopping_) return {};
  ArmTimer();
  return {};
}

ResultChain UpdaterEngine::RunUpdateNow() {
  CriticalSectionGuard guard(lock_);
  return RunUpdateNowLocked();
}

ResultChain UpdaterEngine::RunUpdateNowLocked() {
  if (updateThread_.Wait(0).Contains(err::WaitTimeout)) return KV_MARK(err::AlreadyOpened);
  IniDocument settings;
  context_.GetSettings(settings);
  OverlayFileSettings(settings, updateSettings_);
  context_.SetSettings(settings);
  updateThread_.Close();
  WorkerProc proc = hooks_.updateProc != nullptr ? hooks_.updateProc : &UpdateThreadMain;
  ResultChain started = updateThread_.Start(proc, &context_, THREAD_PRIORITY_NORMAL);
  if (started.Last() != 0) return started;
  return {};
}

void UpdaterEngine::Stop() {
  // Seen at once by a start-up sequence in progress, which then starts no update and
  // arms no timer; taking the lock waits for that sequence to leave the engine's state,
  // so a timer it armed before the flag is stopped below.
  stopping_ = true;
  { CriticalSectionGuard guard(lock_); }
  timer_.Stop();
  if (startupThread_.IsStarted()) {
    startupEnded_ = Ended(::WaitForSingleObject(startupThread_.Get(), kStartupWaitMs));
  }
  updateEnded_ = WaitForUpdateThread().Count() == 0;
  if (updateEnded_) {
    context_.UnloadScanModule();
  } else {
    // The update still calls into the library: unloading it, or tearing down what the
    // update uses, would pull the code out from under it.
    context_.RetainScanModule();
  }
}

ResultChain UpdaterEngine::WaitForUpdateThread() {
  if (!updateThread_.IsStarted() || updateThread_.Get() == nullptr) return {};
  HANDLE handles[] = {updateThread_.Get()};
  if (Ended(::WaitForMultipleObjects(1, handles, TRUE, hooks_.firstUpdateWaitMs))) return {};
  if (Ended(::WaitForMultipleObjects(1, handles, TRUE, hooks_.secondUpdateWaitMs))) return {};
  return KV_MARK(err::ErrorThreadEndFail);
}

ResultChain UpdaterEngine::CheckInstallPath() {
  IniDocument settings;
  context_.GetSettings(settings);
  const std::wstring fullText = PathName(L"default").FullPath();
  std::wstring longForm = fullText;
  if (LongPathName(fullText, longForm).Count() != 0) longForm = fullText;
  if (longForm.empty()) return KV_MARK(err::InvalidInstallPath);
  if (settings.GetInt(L"IsSupportMultiByteInstalledPath", 0, 0) != 0) return {};
  // Every character must take exactly one byte in the ANSI code page.
  std::string narrow;
  if (WideToNarrow(longForm, CP_ACP, 0, narrow).Count() != 0 || narrow.size() != longForm.size()) {
    return KV_MARK(err::InvalidInstallPath);
  }
  return {};
}

}  // namespace kv
