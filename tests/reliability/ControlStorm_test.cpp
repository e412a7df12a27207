// Storms of update requests (control 200) from several threads at once against the
// installed service, whose engine (the fault engine) takes seconds per update.
//
// First storm: entirely while the update at start runs, so every request is refused:
// no extra update. Second storm: after that update ended, so the first request to land
// starts a second (slow) update and every later one finds it running: exactly one
// extra update. Counted twice, independently: the "[Update_" records of the month's log
// and the engine's own trace of its update calls. Throughout, every request is answered,
// the service keeps running, and it stops cleanly with exit code 0.
//
// Then a stop sent in the middle of a storm, while an update runs: the stop waits for
// that update, the service ends cleanly, and the update's record is not lost. And a stop
// during an update is answered at once, with stop-pending reports until the update ends.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "reliability/ReliabilityCommon.h"
#include "support/InstalledService.h"
#include "support/WinTestUtil.h"

namespace kv {
namespace {

constexpr int kRequests = 200;
// Long enough that a storm of 200 requests ends well inside one update; the test checks
// that it did rather than trusting the figure.
constexpr int kUpdateDelayMs = 6000;

class ControlStorm : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = test::FreshFolder(L"rel_storm");
    trace_ = root_ + L"\\trace.txt";
    service_ = std::make_unique<test::InstalledService>(root_, L"app", reltest::FaultBuiltin(), "", L"FaultEngine.dll");
    ASSERT_TRUE(service_->Ready());
    ASSERT_TRUE(test::WriteFileBytes(service_->Folder() + L"\\FaultEngine.ini",
                                     "TraceFile=" + reltest::Narrow(trace_) +
                                         "\r\nUpdateDelayMs=" + std::to_string(kUpdateDelayMs) + "\r\n"));
  }
  void TearDown() override {
    service_.reset();
    test::RemoveTree(root_);
  }

  int EngineUpdates() const { return reltest::TraceCalls(trace_, "UpdateDefinition"); }

  // `threads` threads share `kRequests` requests; returns how many were not answered.
  int Storm(int threads) {
    std::atomic<int> next{0}, failed{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
      workers.emplace_back([&] {
        while (next.fetch_add(1) < kRequests) {
          DWORD error = 0;
          if (!service_->Service().Control(200, nullptr, &error)) ++failed;
        }
      });
    }
    for (auto& worker : workers) worker.join();
    return failed;
  }

  std::wstring root_, trace_;
  std::unique_ptr<test::InstalledService> service_;
};

TEST_F(ControlStorm, RequestsDuringAnUpdateAreRefusedAndAStormAfterItStartsExactlyOne) {
  ASSERT_TRUE(service_->Service().Start());
  ASSERT_TRUE(service_->Service().WaitForState(SERVICE_RUNNING));
  // The update at start is inside the engine, sleeping.
  ASSERT_TRUE(reltest::WaitUntil([&] { return EngineUpdates() == 1; })) << EngineUpdates();

  EXPECT_EQ(Storm(4), 0) << "every request is answered";
  ASSERT_EQ(service_->Count("[Update_"), 0) << "the first storm must end inside the first update";
  EXPECT_EQ(service_->Service().Query().dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
  ASSERT_TRUE(service_->WaitForLog("[Update_", 1)) << service_->Log();
  // The update's own end (the version record after its log record): nothing is pending.
  ASSERT_TRUE(test::WaitForPath(service_->Folder() + L"\\ScannerVersion.ini"));
  EXPECT_EQ(EngineUpdates(), 1) << "no request of the first storm started an update";

  EXPECT_EQ(Storm(8), 0) << "every request is answered";
  ASSERT_EQ(service_->Count("[Update_"), 1) << "the second storm must end inside the update it started";
  EXPECT_TRUE(reltest::WaitUntil([&] { return EngineUpdates() >= 2; })) << "the second storm started an update";
  EXPECT_EQ(service_->Service().Query().dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
  ASSERT_TRUE(service_->WaitForLog("[Update_", 2)) << service_->Log();

  ASSERT_TRUE(service_->Service().StopAndWait());
  EXPECT_EQ(service_->Service().Query().dwWin32ExitCode, 0u);
  EXPECT_EQ(service_->Count("[Update_"), 2) << service_->Log();
  EXPECT_EQ(service_->Count("Result=0x0:Success\r\n"), 2) << service_->Log();
  EXPECT_EQ(EngineUpdates(), 2);
}

TEST_F(ControlStorm, AStopInTheMiddleOfAStormEndsCleanlyAndKeepsTheRunningUpdatesRecord) {
  ASSERT_TRUE(service_->Service().Start());
  ASSERT_TRUE(service_->Service().WaitForState(SERVICE_RUNNING));
  ASSERT_TRUE(reltest::WaitUntil([&] { return EngineUpdates() == 1; })) << EngineUpdates();

  // Requests keep coming from four threads until the service has stopped; those after
  // the stop are refused by the service manager, which is fine.
  std::atomic<bool> storming{true};
  std::atomic<int> sent{0};
  std::vector<std::thread> workers;
  for (int t = 0; t < 4; ++t) {
    workers.emplace_back([&] {
      while (storming) {
        service_->Service().Control(200);
        ++sent;
      }
    });
  }
  const bool stormUnderWay = reltest::WaitUntil([&] { return sent >= 40; });
  const bool stopped = service_->Service().StopAndWait();
  storming = false;
  for (auto& worker : workers) worker.join();
  ASSERT_TRUE(stormUnderWay);
  ASSERT_TRUE(stopped) << "state " << service_->Service().Query().dwCurrentState;
  EXPECT_EQ(service_->Service().Query().dwWin32ExitCode, 0u);
  EXPECT_EQ(EngineUpdates(), 1) << "the storm and the stop fell inside the update at start";
  EXPECT_EQ(service_->Count("[Update_"), 1) << "the update the stop waited for is recorded\n" << service_->Log();
  EXPECT_EQ(service_->Count("Result=0x0:Success\r\n"), 1) << service_->Log();
}

TEST_F(ControlStorm, AStopDuringAnUpdateIsAnsweredAtOnceAndPendingUntilTheUpdateEnds) {
  ASSERT_TRUE(service_->Service().Start());
  ASSERT_TRUE(service_->Service().WaitForState(SERVICE_RUNNING));
  ASSERT_TRUE(reltest::WaitUntil([&] { return EngineUpdates() == 1; })) << EngineUpdates();

  SERVICE_STATUS answer{};
  DWORD error = 0;
  const ULONGLONG sent = ::GetTickCount64();
  ASSERT_TRUE(service_->Service().Control(SERVICE_CONTROL_STOP, &answer, &error)) << "error " << error;
  RecordProperty("stop_answered_ms", static_cast<int>(::GetTickCount64() - sent));
  // The answer came while the update still slept in the engine: it has no record yet.
  EXPECT_EQ(answer.dwCurrentState, static_cast<DWORD>(SERVICE_STOP_PENDING));
  EXPECT_EQ(service_->Count("[Update_"), 0) << service_->Log();
  EXPECT_GT(answer.dwWaitHint, 0u);
  // A second stop meanwhile is answered (or refused while stopping), never left to time out.
  service_->Service().Control(SERVICE_CONTROL_STOP, nullptr, &error);
  EXPECT_NE(error, static_cast<DWORD>(ERROR_SERVICE_REQUEST_TIMEOUT));

  std::vector<DWORD> checkpoints{answer.dwCheckPoint};
  SERVICE_STATUS now{};
  for (const ULONGLONG deadline = ::GetTickCount64() + 60000; ::GetTickCount64() < deadline; ::Sleep(20)) {
    now = service_->Service().Query();
    if (now.dwCurrentState != SERVICE_STOP_PENDING) break;
    EXPECT_GT(now.dwWaitHint, 0u);
    if (now.dwCheckPoint != checkpoints.back()) checkpoints.push_back(now.dwCheckPoint);
  }
  ASSERT_EQ(now.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_GE(checkpoints.size(), 2u) << "stop-pending again with the next checkpoint";
  EXPECT_TRUE(std::is_sorted(checkpoints.begin(), checkpoints.end()));
  EXPECT_EQ(now.dwWin32ExitCode, 0u);
  // Stopped came after the update's end: its record is there.
  EXPECT_EQ(service_->Count("Result=0x0:Success\r\n"), 1) << service_->Log();
}

}  // namespace
}  // namespace kv
