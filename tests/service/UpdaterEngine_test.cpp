#include "service/UpdaterEngine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "foundation/ErrorCodes.h"
#include "log/MonthlyLog.h"
#include "service/AppContext.h"
#include "kernel/MutexHolder.h"
#include "support/FaultEngineControl.h"
#include "support/ResultAssertions.h"
#include "support/WinTestUtil.h"

namespace kv {
namespace {

// An update thread procedure the test controls: it counts its starts and runs until
// the test releases it.
std::atomic<int> g_updates{0};
// Updates that ran before start-up had configured the context: no stop event, or no
// overlay of the settings file (which always sets "UpdateTypeKey").
std::atomic<int> g_unconfigured{0};
HANDLE g_updateStarted = nullptr;
HANDLE g_releaseUpdate = nullptr;

void CountUpdate(void* parameter) {
  auto& context = *static_cast<AppContext*>(parameter);
  IniDocument settings;
  ASSERT_OK(context.GetSettings(settings));
  if (context.StopEvent() == nullptr || settings.GetString(L"UpdateTypeKey", L"", L"AntiVirus").empty()) {
    ++g_unconfigured;
  }
  ++g_updates;
  ::SetEvent(g_updateStarted);
}

DWORD WINAPI HeldUpdate(void* context) {
  CountUpdate(context);
  ::WaitForSingleObject(g_releaseUpdate, 60000);
  return 0;
}

DWORD WINAPI QuickUpdate(void* context) {
  CountUpdate(context);
  return 0;
}

class UpdaterEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_updates = 0;
    g_unconfigured = 0;
    g_updateStarted = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    g_releaseUpdate = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    folder_ = test::FreshFolder(L"updater_engine");
    context_ = std::make_unique<AppContext>(L"[Setting]\nScanDll=FaultEngine.dll\nTimerElapse=3600\nLogFolder=" +
                                            folder_ + L"\\log\n");
    IniDocument settings;
    ASSERT_OK(context_->GetSettings(settings));
    ASSERT_OK(context_->LoadScanModule(settings));
    hooks_.updateProc = &HeldUpdate;
  }
  void TearDown() override {
    ::SetEvent(g_releaseUpdate);
    if (engine_) engine_->Stop();
    engine_.reset();
    context_.reset();
    ::CloseHandle(g_updateStarted);
    ::CloseHandle(g_releaseUpdate);
    test::RemoveTree(folder_);
  }
  UpdaterEngine& Engine() {
    if (!engine_) engine_ = std::make_unique<UpdaterEngine>(*context_, hooks_);
    return *engine_;
  }
  static bool WaitForUpdateStart() { return ::WaitForSingleObject(g_updateStarted, 30000) == WAIT_OBJECT_0; }

  test::FaultEngineControl faultEngine_{L"FaultEngine.dll"};
  std::wstring folder_;
  std::unique_ptr<AppContext> context_;
  UpdaterEngine::Hooks hooks_;
  std::unique_ptr<UpdaterEngine> engine_;
};

TEST_F(UpdaterEngineTest, StartRunsOneUpdateAndASecondRequestIsRefusedWhileItRuns) {
  ASSERT_OK(Engine().Start());
  ASSERT_TRUE(WaitForUpdateStart());
  const ResultChain refused = Engine().RunUpdateNow();
  EXPECT_TRUE(refused.Contains(err::AlreadyOpened));
  EXPECT_EQ(g_updates, 1);

  ::SetEvent(g_releaseUpdate);
  ASSERT_OK(Engine().WaitForUpdateThread());
  ::ResetEvent(g_releaseUpdate);
  EXPECT_OK(Engine().RunUpdateNow()) << "after the update ended a new one starts";
  ASSERT_TRUE(WaitForUpdateStart());
  EXPECT_EQ(g_updates, 2);
}

// Refused either way: before the start-up has configured, or because the start-up's own
// update (held here) then runs.
TEST_F(UpdaterEngineTest, ARequestRightAfterStartNeverRunsBeforeTheStartupConfigured) {
  ASSERT_OK(Engine().Start());
  EXPECT_TRUE(Engine().RunUpdateNow().Contains(err::AlreadyOpened));
  ASSERT_TRUE(WaitForUpdateStart());
  EXPECT_EQ(g_unconfigured, 0) << "an update ran without the stop event or the settings file's overlay";
  EXPECT_EQ(g_updates, 1);
}

TEST_F(UpdaterEngineTest, ConcurrentRequestsStartExactlyOneUpdate) {
  std::atomic<int> accepted{0};
  UpdaterEngine& engine = Engine();
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 25; ++i) {
        if (engine.RunUpdateNow().Succeeded()) ++accepted;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(accepted, 1);
  ASSERT_TRUE(WaitForUpdateStart());
  EXPECT_EQ(g_updates, 1);
}

TEST_F(UpdaterEngineTest, RequestOverlaysTheSettingsFileValues) {
  (void)Engine().UpdateSettings().SetString(L"OtherUncPath", L"\\\\server\\defs", L"Kestravondal");
  ASSERT_OK(Engine().RunUpdateNow());
  IniDocument shared;
  ASSERT_OK(context_->GetSettings(shared));
  EXPECT_EQ(shared.GetString(L"UpdateTypeKey", L"", L"AntiVirus"), L"UpdateUnc");
  EXPECT_EQ(shared.GetString(L"UpdateUnc", L"", L"AntiVirus"), L"\\\\server\\defs");
}

TEST_F(UpdaterEngineTest, StopWaitsForAnUpdateThatEndsInTimeThenUnloadsTheEngine) {
  ASSERT_OK(Engine().Start());
  ASSERT_TRUE(WaitForUpdateStart());
  std::thread release([] {
    ::Sleep(200);
    ::SetEvent(g_releaseUpdate);
  });
  Engine().Stop();
  release.join();
  EXPECT_TRUE(Engine().UpdateEnded());
  EXPECT_FALSE(context_->Session().HasEngine());
  EXPECT_FALSE(context_->Session().Module().Loaded());
  EXPECT_FALSE(context_->Retained());
}

TEST_F(UpdaterEngineTest, StopWaitsThreeThenThirtySecondsAndAnUpdateEndingInTheSecondWaitFinishes) {
  EXPECT_EQ(UpdaterEngine::Hooks{}.firstUpdateWaitMs, 3000u);
  EXPECT_EQ(UpdaterEngine::Hooks{}.secondUpdateWaitMs, 30000u);
  ASSERT_OK(Engine().RunUpdateNow());
  ASSERT_TRUE(WaitForUpdateStart());
  std::thread release([] {
    ::Sleep(4000);  // past the first wait, well within the second
    ::SetEvent(g_releaseUpdate);
  });
  Engine().Stop();
  release.join();
  EXPECT_TRUE(Engine().UpdateEnded());
  EXPECT_FALSE(context_->Retained());
  EXPECT_FALSE(context_->Session().Module().Loaded());
  EXPECT_TRUE(Engine().RunUpdateNow().Contains(err::BreakInterrupt)) << "no update starts once stopped";
}

TEST_F(UpdaterEngineTest, AnUpdateOutlivingTheWaitKeepsTheLibraryLoaded) {
  hooks_.firstUpdateWaitMs = 50;
  hooks_.secondUpdateWaitMs = 50;
  ASSERT_OK(Engine().RunUpdateNow());
  ASSERT_TRUE(WaitForUpdateStart());
  EXPECT_TRUE(Engine().WaitForUpdateThread().Contains(err::ErrorThreadEndFail));
  Engine().Stop();
  EXPECT_FALSE(Engine().UpdateEnded());
  EXPECT_TRUE(context_->Retained());
  EXPECT_TRUE(context_->Session().Module().Loaded()) << "the running update still calls into the library";
  ::SetEvent(g_releaseUpdate);
}

// The schedule clock blocks on its first reading, which comes early in the start-up
// sequence: a stop can then be made to arrive in the middle of start-up.
HANDLE g_clockEntered = nullptr;
HANDLE g_clockRelease = nullptr;
std::atomic<bool> g_clockHeld{true};

std::int32_t HeldClock() {
  if (g_clockHeld.exchange(false)) {
    ::SetEvent(g_clockEntered);
    ::WaitForSingleObject(g_clockRelease, 60000);
  }
  return SystemScheduleClock();
}

TEST_F(UpdaterEngineTest, StopDuringStartupWaitsForItAndStartsNothing) {
  g_clockEntered = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  g_clockRelease = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  g_clockHeld = true;
  hooks_.now = &HeldClock;
  ASSERT_OK(Engine().Start());
  ASSERT_EQ(::WaitForSingleObject(g_clockEntered, 30000), WAIT_OBJECT_0);

  std::thread stopper([&] { Engine().Stop(); });
  for (int i = 0; i < 3000 && !Engine().Stopping(); ++i) ::Sleep(1);
  ASSERT_TRUE(Engine().Stopping());
  ::SetEvent(g_clockRelease);
  stopper.join();

  EXPECT_TRUE(Engine().CanBeDestroyed()) << "the start-up thread has ended";
  EXPECT_EQ(g_updates, 0) << "a stop during start-up starts no update";
  EXPECT_FALSE(context_->Session().Module().Loaded());
  ::CloseHandle(g_clockEntered);
  ::CloseHandle(g_clockRelease);
}

// The start-up's log write waits for the log's mutex, which this thread holds: the stop
// must end within its own bound all the same, and keep the context for that thread.
TEST_F(UpdaterEngineTest, StopDuringAStartupStuckInALogWriteIsBounded) {
  MutexHolder held;
  ASSERT_OK(held.Create(MonthlyLog::MutexName(), /*acquire=*/true));
  ASSERT_TRUE(held.Owned());
  hooks_.updateProc = &QuickUpdate;
  hooks_.firstUpdateWaitMs = 50;
  hooks_.secondUpdateWaitMs = 50;
  ASSERT_OK(Engine().Start());
  // The start-up writes its record right after starting this update; the write cannot
  // end while the mutex is held here (only its own 10 s limit would end it).
  ASSERT_TRUE(WaitForUpdateStart());
  Engine().Stop();
  EXPECT_FALSE(Engine().CanBeDestroyed()) << "the stop returned while the start-up was still writing";
  EXPECT_TRUE(context_->Retained()) << "that start-up still uses the context";
  EXPECT_FALSE(context_->Session().Module().Loaded()) << "but never the library: it starts no update now";
  (void)held.Close();
  Engine().Stop();  // now the start-up ends at once, without arming the timer
  EXPECT_TRUE(Engine().CanBeDestroyed());
  EXPECT_EQ(g_updates, 1);
}

TEST_F(UpdaterEngineTest, ASecondStartupWhileTheFirstRunsIsRefused) {
  g_clockEntered = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  g_clockRelease = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  g_clockHeld = true;
  hooks_.now = &HeldClock;
  ASSERT_OK(Engine().BeginStartup());
  ASSERT_EQ(::WaitForSingleObject(g_clockEntered, 30000), WAIT_OBJECT_0);
  EXPECT_TRUE(Engine().BeginStartup().Contains(err::AlreadyOpened));
  ::SetEvent(g_clockRelease);
  ASSERT_TRUE(WaitForUpdateStart());
  ::CloseHandle(g_clockEntered);
  ::CloseHandle(g_clockRelease);
}

TEST_F(UpdaterEngineTest, InstallPathOfPlainCharactersIsAccepted) { EXPECT_OK(Engine().CheckInstallPath()); }

}  // namespace
}  // namespace kv
