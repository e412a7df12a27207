#include "service/ServiceHost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "kernel/CriticalSection.h"
#include "kernel/EventHolder.h"
#include "support/ResultAssertions.h"

namespace kv {
namespace {

// The recorder's progress period: long enough that a quick shutdown has no progress
// report. A stop-pending hint (kStopHint) covers at least that period.
constexpr DWORD kProgressMs = 60000;
constexpr DWORD kStopHint = 0xFFFFFFFF;

// Records every status report and every call into the system, in order; the stop
// thread reports too, so under a lock.
struct Recorder {
  CriticalSection lock;
  std::vector<SERVICE_STATUS> reports;
  std::vector<std::string> timeline;
  std::vector<DWORD> reportThreads;  // the thread each report came from
  int failReport = -1;  // index of the report whose SetServiceStatus fails
  bool failRegistration = false;
  HANDLE holdShutdown = nullptr;  // when set, the shutdown waits for it

  void Note(const std::string& what) {
    CriticalSectionGuard guard(lock);
    timeline.push_back(what);
  }

  ServiceHost::Operations Operations() {
    ServiceHost::Operations ops;
    ops.registerHandler = [this](const char* name, LPHANDLER_FUNCTION_EX) -> SERVICE_STATUS_HANDLE {
      Note(std::string("register:") + name);
      return failRegistration ? nullptr : reinterpret_cast<SERVICE_STATUS_HANDLE>(0x1234);
    };
    ops.setServiceStatus = [this](SERVICE_STATUS_HANDLE handle, SERVICE_STATUS* status) -> BOOL {
      EXPECT_EQ(handle, reinterpret_cast<SERVICE_STATUS_HANDLE>(0x1234));
      CriticalSectionGuard guard(lock);
      reports.push_back(*status);
      reportThreads.push_back(::GetCurrentThreadId());
      timeline.push_back("report:" + std::to_string(status->dwCurrentState));
      return static_cast<int>(reports.size()) - 1 != failReport;
    };
    ops.initialize = [this] { Note("initialize"); };
    ops.shutdown = [this] {
      Note("shutdown");
      if (holdShutdown != nullptr) ::WaitForSingleObject(holdShutdown, INFINITE);
      Note("shutdown ended");
    };
    ops.updateNow = [this] { Note("update"); };
    ops.stopProgressMs = kProgressMs;
    return ops;
  }

  // Operations whose shutdown waits until `release` is set, re-reported every 10 ms.
  EventHolder release;
  ServiceHost::Operations HeldOperations() {
    EXPECT_OK(release.Create(/*autoReset=*/false, /*initialState=*/false));
    holdShutdown = release.Get();
    ServiceHost::Operations ops = Operations();
    ops.stopProgressMs = 10;
    return ops;
  }
};

struct Expected {
  DWORD state, checkpoint, waitHint, controls;
};

void ExpectReports(const std::vector<SERVICE_STATUS>& reports, const std::vector<Expected>& expected) {
  ASSERT_EQ(reports.size(), expected.size());
  for (size_t i = 0; i < reports.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(reports[i].dwCurrentState, expected[i].state);
    EXPECT_EQ(reports[i].dwCheckPoint, expected[i].checkpoint);
    if (expected[i].waitHint == kStopHint) {
      EXPECT_GE(reports[i].dwWaitHint, kProgressMs) << "what is left of the stop, and the next report";
    } else {
      EXPECT_EQ(reports[i].dwWaitHint, expected[i].waitHint);
    }
    EXPECT_EQ(reports[i].dwControlsAccepted, expected[i].controls);
    EXPECT_EQ(reports[i].dwServiceType, 0x130u);
    EXPECT_EQ(reports[i].dwWin32ExitCode, 0u);
    EXPECT_EQ(reports[i].dwServiceSpecificExitCode, 0u);
  }
}

TEST(ServiceHost, NormalRunThenStop) {
  Recorder rec;
  ServiceHost host(rec.Operations());
  host.ServiceMain();
  EXPECT_EQ(host.HandleControl(SERVICE_CONTROL_STOP), static_cast<DWORD>(NO_ERROR));
  // An idle stop has ended, and reported stopped, on the handler's own thread: a report
  // from another thread could wait for the handler to return.
  EXPECT_EQ(host.Status().dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
  ASSERT_FALSE(rec.reportThreads.empty());
  EXPECT_EQ(rec.reportThreads.back(), ::GetCurrentThreadId());
  ASSERT_TRUE(host.WaitForStopThread(30000));
  ExpectReports(rec.reports, {{SERVICE_START_PENDING, 1, 15000, 0},
                              {SERVICE_RUNNING, 0, 0, 0x81},
                              {SERVICE_STOP_PENDING, 2, kStopHint, 0x81},
                              {SERVICE_STOPPED, 0, 0, 0x81}});
  EXPECT_EQ(rec.timeline, (std::vector<std::string>{"register:Kestravondalsc", "report:2", "initialize", "report:4",
                                                    "report:3", "shutdown", "shutdown ended", "report:1"}));
  EXPECT_TRUE(host.ShutdownEnded());
}

// The handler returns while the shutdown still runs; meanwhile stop-pending comes again
// and again with the next checkpoint and a hint that counts down, a second stop and an
// update request change nothing, and stopped follows the shutdown's end.
TEST(ServiceHost, StopIsAnsweredAtOnceAndReportsProgressUntilTheShutdownEnds) {
  Recorder rec;
  ServiceHost::Operations ops = rec.HeldOperations();
  ServiceHost host(ops);
  host.ServiceMain();
  ASSERT_EQ(host.HandleControl(SERVICE_CONTROL_STOP), static_cast<DWORD>(NO_ERROR));
  EXPECT_EQ(host.Status().dwCurrentState, static_cast<DWORD>(SERVICE_STOP_PENDING)) << "answered before the end";
  for (const ULONGLONG deadline = ::GetTickCount64() + 30000; host.Status().dwCheckPoint < 5;) {
    if (::GetTickCount64() > deadline) break;
    ::Sleep(5);
  }
  EXPECT_EQ(host.HandleControl(SERVICE_CONTROL_STOP), static_cast<DWORD>(NO_ERROR));
  EXPECT_EQ(host.HandleControl(200), static_cast<DWORD>(NO_ERROR));
  ::SetEvent(rec.release.Get());
  ASSERT_TRUE(host.WaitForStopThread(30000));

  const std::vector<SERVICE_STATUS>& reports = rec.reports;
  ASSERT_GE(reports.size(), 6u);
  for (size_t i = 2; i + 1 < reports.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(reports[i].dwCurrentState, static_cast<DWORD>(SERVICE_STOP_PENDING));
    EXPECT_EQ(reports[i].dwCheckPoint, i);
    EXPECT_GE(reports[i].dwWaitHint, 10u);
    if (i > 2) {
      EXPECT_LE(reports[i].dwWaitHint, reports[i - 1].dwWaitHint);
    }
  }
  EXPECT_EQ(reports.back().dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
  const std::vector<std::string>& timeline = rec.timeline;
  EXPECT_EQ(std::count(timeline.begin(), timeline.end(), "shutdown"), 1);
  EXPECT_EQ(std::count(timeline.begin(), timeline.end(), "update"), 0);
  EXPECT_TRUE(host.ShutdownEnded());
}

// A shutdown stuck past its budget and the grace after it: stopped all the same.
TEST(ServiceHost, AShutdownThatDoesNotEndStillEndsInStopped) {
  Recorder rec;
  ServiceHost::Operations ops = rec.HeldOperations();
  ops.stopBudgetMs = 50;
  ops.stopGraceMs = 50;
  ServiceHost host(ops);
  host.ServiceMain();
  host.HandleControl(SERVICE_CONTROL_STOP);
  ASSERT_TRUE(host.WaitForStopThread(30000));
  EXPECT_FALSE(host.ShutdownEnded());
  {
    CriticalSectionGuard guard(rec.lock);
    EXPECT_EQ(rec.reports.back().dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(rec.timeline.back(), "report:1") << "the shutdown still runs";
  }
  ::SetEvent(rec.release.Get());  // the host's end waits for the shutdown thread
}

TEST(ServiceHost, ReReportsForInterrogationSessionChangeAndUnknownCodes) {
  for (DWORD control : {DWORD{SERVICE_CONTROL_INTERROGATE}, DWORD{SERVICE_CONTROL_SESSIONCHANGE}, DWORD{201},
                        DWORD{SERVICE_CONTROL_PAUSE}, DWORD{SERVICE_CONTROL_SHUTDOWN}}) {
    SCOPED_TRACE(control);
    Recorder rec;
    ServiceHost host(rec.Operations());
    host.ServiceMain();
    EXPECT_EQ(host.HandleControl(control), static_cast<DWORD>(NO_ERROR));
    ExpectReports(rec.reports,
                  {{SERVICE_START_PENDING, 1, 15000, 0}, {SERVICE_RUNNING, 0, 0, 0x81}, {SERVICE_RUNNING, 0, 0, 0x81}});
    EXPECT_EQ(rec.timeline.back(), "report:4");
  }
}

TEST(ServiceHost, UpdateControlAsksForAnUpdateWithoutAReport) {
  Recorder rec;
  ServiceHost host(rec.Operations());
  host.ServiceMain();
  EXPECT_EQ(host.HandleControl(200), static_cast<DWORD>(NO_ERROR));
  EXPECT_EQ(rec.reports.size(), 2u);
  EXPECT_EQ(rec.timeline.back(), "update");
}

TEST(ServiceHost, FailedStartPendingReportStopsWithoutInitialising) {
  Recorder rec;
  rec.failReport = 0;
  ServiceHost host(rec.Operations());
  host.ServiceMain();
  ExpectReports(rec.reports, {{SERVICE_START_PENDING, 1, 15000, 0}, {SERVICE_STOPPED, 0, 0, 0x81}});
  EXPECT_EQ(std::count(rec.timeline.begin(), rec.timeline.end(), "initialize"), 0);
}

TEST(ServiceHost, FailedRunningReportRunsTheStopSequence) {
  Recorder rec;
  rec.failReport = 1;
  ServiceHost host(rec.Operations());
  host.ServiceMain();
  ExpectReports(rec.reports, {{SERVICE_START_PENDING, 1, 15000, 0},
                              {SERVICE_RUNNING, 0, 0, 0x81},
                              {SERVICE_STOP_PENDING, 2, kStopHint, 0x81},
                              {SERVICE_STOPPED, 0, 0, 0x81}});
  EXPECT_EQ(rec.timeline, (std::vector<std::string>{"register:Kestravondalsc", "report:2", "initialize", "report:4",
                                                    "report:3", "shutdown", "shutdown ended", "report:1"}));
}

TEST(ServiceHost, FailedRegistrationReportsNothing) {
  Recorder rec;
  rec.failRegistration = true;
  ServiceHost host(rec.Operations());
  host.ServiceMain();
  EXPECT_TRUE(rec.reports.empty());
  EXPECT_EQ(rec.timeline.size(), 1u);
}

TEST(ServiceHost, CheckpointCounterIsNeverReset) {
  // Every pending report takes the next number, across a second run of the sequences.
  Recorder rec;
  ServiceHost host(rec.Operations());
  host.ServiceMain();
  host.HandleControl(SERVICE_CONTROL_STOP);
  ASSERT_TRUE(host.WaitForStopThread(30000));
  host.ServiceMain();
  ASSERT_EQ(rec.reports.size(), 6u);
  EXPECT_EQ(rec.reports[4].dwCurrentState, static_cast<DWORD>(SERVICE_START_PENDING));
  EXPECT_EQ(rec.reports[4].dwCheckPoint, 3u);
  EXPECT_EQ(rec.reports[4].dwControlsAccepted, 0u);
}

}  // namespace
}  // namespace kv
