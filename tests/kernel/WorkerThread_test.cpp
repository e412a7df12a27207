#include "kernel/WorkerThread.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>

#include "foundation/ErrorCodes.h"
#include "kernel/EventHolder.h"

namespace kv {
namespace {

struct Gate {
  EventHolder release;
  std::atomic<int> runs{0};
};

DWORD WINAPI WaitAtGate(void* parameter) {
  auto* gate = static_cast<Gate*>(parameter);
  ++gate->runs;
  return ::WaitForSingleObject(gate->release.Get(), 30000) == WAIT_OBJECT_0 ? 7 : 1;
}

TEST(WorkerThreadTest, WaitTellsRunningFromEnded) {
  Gate gate;
  ASSERT_FALSE(gate.release.Create(false, false).Failed());
  WorkerThread thread;
  ASSERT_FALSE(thread.Start(&WaitAtGate, &gate).Failed());
  ASSERT_TRUE(thread.IsStarted());

  const ResultChain running = thread.Wait(0);
  EXPECT_TRUE(running.Contains(err::WaitTimeout));
  EXPECT_FALSE(running.Contains(err::WaitFinish));

  ASSERT_TRUE(::SetEvent(gate.release.Get()));
  const ResultChain ended = thread.Wait(30000);
  EXPECT_TRUE(ended.Contains(err::WaitFinish));
  EXPECT_FALSE(ended.Contains(err::WaitTimeout));
  EXPECT_TRUE(IsLineMarker(ended.Codes().front()));
  DWORD exitCode = 0;
  ASSERT_TRUE(::GetExitCodeThread(thread.Get(), &exitCode));
  EXPECT_EQ(7u, exitCode);

  // Ended threads stay held: waiting again still reports the end.
  EXPECT_TRUE(thread.Wait(0).Contains(err::WaitFinish));
}

TEST(WorkerThreadTest, SecondStartWithoutCloseIsRefusedAndStartsNothing) {
  Gate gate;
  ASSERT_FALSE(gate.release.Create(false, true).Failed());
  WorkerThread thread;
  ASSERT_FALSE(thread.Start(&WaitAtGate, &gate).Failed());
  ASSERT_TRUE(thread.Wait(30000).Contains(err::WaitFinish));

  EXPECT_EQ(err::AlreadyOpened, thread.Start(&WaitAtGate, &gate).Last());
  EXPECT_EQ(1, gate.runs.load());

  EXPECT_FALSE(thread.Close().Failed());
  EXPECT_FALSE(thread.IsStarted());
  ASSERT_FALSE(thread.Start(&WaitAtGate, &gate).Failed());
  EXPECT_TRUE(thread.Wait(30000).Contains(err::WaitFinish));
  EXPECT_EQ(2, gate.runs.load());
}

TEST(WorkerThreadTest, EmptyHolder) {
  WorkerThread thread;
  EXPECT_EQ(err::HandleNotEnabled, thread.Wait(0).Last());
  EXPECT_FALSE(thread.Close().Failed());
  EXPECT_EQ(err::InvalidArgumentNullPointer, thread.Start(nullptr, nullptr).Last());
  EXPECT_FALSE(thread.IsStarted());
}

TEST(WorkerThreadTest, CloseLeavesTheThreadRunning) {
  Gate gate;
  ASSERT_FALSE(gate.release.Create(false, false).Failed());
  HANDLE observer = nullptr;
  {
    WorkerThread thread;
    ASSERT_FALSE(thread.Start(&WaitAtGate, &gate).Failed());
    ASSERT_TRUE(::DuplicateHandle(::GetCurrentProcess(), thread.Get(), ::GetCurrentProcess(), &observer, 0, FALSE,
                                  DUPLICATE_SAME_ACCESS));
    EXPECT_FALSE(thread.Close().Failed());
  }
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), ::WaitForSingleObject(observer, 0));
  ::SetEvent(gate.release.Get());
  EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), ::WaitForSingleObject(observer, 30000));
  ::CloseHandle(observer);
}

}  // namespace
}  // namespace kv
