// The frame the service control manager sees: service entry, control handler and the
// one routine that reports the service status.
//
// A stop is answered at once: the handler reports stop-pending and runs the shutdown on
// a thread of its own. When the shutdown ends within half a second (an idle service),
// the handler reports stopped itself and answers "stopped", as it always did, to callers
// that do not wait for it (Wine's installer is one). Otherwise the handler answers "stop
// pending", and a stop thread re-reports stop-pending about every second with the next
// checkpoint and a wait hint that covers what is left, then reports stopped. The status
// record is written under one lock, since the handler, the service thread and the stop
// thread all report.
#pragma once

#include <windows.h>

#include <functional>

#include "foundation/ServiceName.h"
#include "kernel/CriticalSection.h"
#include "kernel/WorkerThread.h"

namespace kv {

inline constexpr DWORD kUpdateNowControl = 200;
// What a stop may take: the engine's waits for a running update (3 s, then 30 s).
inline constexpr DWORD kStopBudgetMs = 33000;

class ServiceHost {
 public:
  // What the host drives. The defaults are the real system calls and the process-level
  // operations; tests replace them to record every report.
  struct Operations {
    std::function<SERVICE_STATUS_HANDLE(const char* name, LPHANDLER_FUNCTION_EX handler)> registerHandler;
    std::function<BOOL(SERVICE_STATUS_HANDLE, SERVICE_STATUS*)> setServiceStatus;
    std::function<void()> initialize;
    std::function<void()> shutdown;
    std::function<void()> updateNow;
    // Stop-pending is re-reported this often while the shutdown runs.
    DWORD stopProgressMs = 1000;
    // How long the handler waits for the shutdown to end before it answers "stop pending".
    DWORD stopAnswerMs = 500;
    // The shutdown's own bound, which the wait hints count down.
    DWORD stopBudgetMs = kStopBudgetMs;
    // Beyond the budget, how long a shutdown that does not end is waited for (unloading
    // an engine that hangs) before stopped is reported all the same.
    DWORD stopGraceMs = 10000;
  };
  static Operations SystemOperations();

  explicit ServiceHost(Operations operations);
  ~ServiceHost();
  ServiceHost(const ServiceHost&) = delete;
  ServiceHost& operator=(const ServiceHost&) = delete;

  // Hands the calling thread to the dispatcher until the service has stopped. The
  // dispatcher's result is not examined: started outside the service control manager,
  // the program simply ends.
  void RunDispatcher();

  // The service entry, on the thread the service control manager creates.
  void ServiceMain();

  // The control handler; always answers NO_ERROR, at once.
  DWORD HandleControl(DWORD control);

  // Waits up to `timeoutMs` for a stop that the handler left to a stop thread to report
  // stopped; true when no stop thread runs (any more).
  bool WaitForStopThread(DWORD timeoutMs);
  // False when stopped was reported while the shutdown still ran: the process must then
  // end without running its exit-time clean-up under that shutdown.
  bool ShutdownEnded();

  // Fills the status record for the state and reports it; returns SetServiceStatus's result.
  BOOL ReportStatus(DWORD state, DWORD exitCode, DWORD waitHint);

  SERVICE_STATUS Status();

 private:
  void StartSequence();
  // The stop on the calling thread, for the start sequence's failure and when no stop
  // thread can be made.
  void StopSequence();
  // Stop-pending, then the shutdown on its own thread, and stopped at once or from a stop
  // thread; nothing when a stop has already begun.
  void BeginStop();
  // On the stop thread: the shutdown watched and reported until it ends or overruns.
  void RunStop();
  // Stopped, noting whether the shutdown had ended.
  void EndStop(bool shutdownEnded);
  // Stop-pending with the wait hint for a stop begun at `begin` (a GetTickCount64 reading).
  void ReportStopProgress(ULONGLONG begin);
  BOOL ReportStatusLocked(DWORD state, DWORD exitCode, DWORD waitHint);

  static void WINAPI ServiceMainEntry(DWORD argc, LPSTR* argv);
  static DWORD WINAPI ControlEntry(DWORD control, DWORD eventType, LPVOID eventData, LPVOID context);
  static DWORD WINAPI StopThreadMain(void* host);
  static DWORD WINAPI ShutdownThreadMain(void* host);

  Operations ops_;
  CriticalSection statusLock_;
  SERVICE_STATUS status_{};  // under statusLock_, as are the three below
  SERVICE_STATUS_HANDLE statusHandle_ = nullptr;
  DWORD checkpoint_ = 1;
  bool stopBegun_ = false;
  bool shutdownEnded_ = true;
  ULONGLONG stopBegin_ = 0;  // when the stop that the stop thread watches began
  WorkerThread stopThread_;
  WorkerThread shutdownThread_;
};

}  // namespace kv
