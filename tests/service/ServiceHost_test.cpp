#include "service/ServiceHost.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kv {
namespace {

// Records every status report and every call into the system, in order.
struct Recorder {
  std::vector<SERVICE_STATUS> reports;
  std::vector<std::string> timeline;
  int failReport = -1;  // index of the report whose SetServiceStatus fails
  bool failRegistration = false;

  ServiceHost::Operations Operations() {
    ServiceHost::Operations ops;
    ops.registerHandler = [this](const char* name, LPHANDLER_FUNCTION_EX) -> SERVICE_STATUS_HANDLE {
      timeline.push_back(std::string("register:") + name);
      return failRegistration ? nullptr : reinterpret_cast<SERVICE_STATUS_HANDLE>(0x1234);
    };
    ops.setServiceStatus = [this](SERVICE_STATUS_HANDLE handle, SERVICE_STATUS* status) -> BOOL {
      EXPECT_EQ(handle, reinterpret_cast<SERVICE_STATUS_HANDLE>(0x1234));
      reports.push_back(*status);
      timeline.push_back("report:" + std::to_string(status->dwCurrentState));
      return static_cast<int>(reports.size()) - 1 != failReport;
    };
    ops.initialize = [this] { timeline.push_back("initialize"); };
    ops.shutdown = [this] { timeline.push_back("shutdown"); };
    ops.updateNow = [this] { timeline.push_back("update"); };
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
    EXPECT_EQ(reports[i].dwWaitHint, expected[i].waitHint);
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
  ExpectReports(rec.reports, {{SERVICE_START_PENDING, 1, 15000, 0},
                              {SERVICE_RUNNING, 0, 0, 0x81},
                              {SERVICE_STOP_PENDING, 2, 0, 0x81},
                              {SERVICE_STOPPED, 0, 0, 0x81}});
  EXPECT_EQ(rec.timeline, (std::vector<std::string>{"register:Kestravondalsc", "report:2", "initialize", "report:4",
                                                    "report:3", "shutdown", "report:1"}));
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
                              {SERVICE_STOP_PENDING, 2, 0, 0x81},
                              {SERVICE_STOPPED, 0, 0, 0x81}});
  EXPECT_EQ(rec.timeline, (std::vector<std::string>{"register:Kestravondalsc", "report:2", "initialize", "report:4",
                                                    "report:3", "shutdown", "report:1"}));
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
  host.ServiceMain();
  ASSERT_EQ(rec.reports.size(), 6u);
  EXPECT_EQ(rec.reports[4].dwCurrentState, static_cast<DWORD>(SERVICE_START_PENDING));
  EXPECT_EQ(rec.reports[4].dwCheckPoint, 3u);
  EXPECT_EQ(rec.reports[4].dwControlsAccepted, 0u);
}

}  // namespace
}  // namespace kv
