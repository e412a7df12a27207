// The frame the service control manager sees: service entry, control handler and the
// one routine that reports the service status.
#pragma once

#include <windows.h>

#include <functional>

namespace kv {

inline constexpr char kServiceName[] = "Kestravondalsc";
// The same name for the service control manager's wide functions (installer, kvtool).
inline constexpr wchar_t kServiceNameWide[] = L"Kestravondalsc";
inline constexpr DWORD kUpdateNowControl = 200;

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

  // The control handler; always answers NO_ERROR.
  DWORD HandleControl(DWORD control);

  // Fills the status record for the state and reports it; returns SetServiceStatus's result.
  BOOL ReportStatus(DWORD state, DWORD exitCode, DWORD waitHint);

  const SERVICE_STATUS& Status() const { return status_; }

 private:
  void StartSequence();
  void StopSequence();

  static void WINAPI ServiceMainEntry(DWORD argc, LPSTR* argv);
  static DWORD WINAPI ControlEntry(DWORD control, DWORD eventType, LPVOID eventData, LPVOID context);

  Operations ops_;
  SERVICE_STATUS status_{};
  SERVICE_STATUS_HANDLE statusHandle_ = nullptr;
  DWORD checkpoint_ = 1;
};

}  // namespace kv
