#include "kernel/MutexHolder.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "foundation/ErrorCodes.h"
#include "kernel/HandleHolder.h"
#include "kernel/WorkerThread.h"
#include "support/WinTestUtil.h"
#include "support/StartService.h"

namespace kv {
namespace {

std::wstring UniqueName(const wchar_t* base) {
  return std::wstring(base) + L"_" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
         std::to_wstring(::GetTickCount64());
}

// kv_logwriter holding `mutexName` until it is killed.
class HoldingProcess {
 public:
  explicit HoldingProcess(const std::wstring& mutexName) {
    const std::wstring ready = UniqueName(L"KvTest_Ready");
    (void)readyEvent_.Attach(::CreateEventW(nullptr, TRUE, FALSE, ready.c_str()));
    std::wstring command = L"\"" + test::ProgramFolder() + L"\\kv_logwriter.exe\" hold " + mutexName + L" " + ready;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (::kv::test::CreateProcessRetrying(command.data(), FALSE, 0, &startup, &info)) {
      (void)process_.Attach(info.hProcess);
      ::CloseHandle(info.hThread);
    }
  }
  ~HoldingProcess() { Kill(); }

  bool WaitUntilHolding() {
    HANDLE both[2] = {readyEvent_.Get(), process_.Get()};
    return process_.IsOpen() && ::WaitForMultipleObjects(2, both, FALSE, 30000) == WAIT_OBJECT_0;
  }
  void Kill() {
    if (!process_.IsOpen()) return;
    ::TerminateProcess(process_.Get(), 9);
    ::WaitForSingleObject(process_.Get(), 30000);
    (void)process_.Close();
  }

 private:
  HandleHolder readyEvent_;
  HandleHolder process_;
};

TEST(MutexHolderTest, EmptyNameIsInvalidArgument) {
  MutexHolder mutex;
  ::SetLastError(0xDEADBEEF);
  const ResultChain chain = mutex.Create(L"", true);
  EXPECT_EQ(err::InvalidArgument, chain.Last());
  EXPECT_FALSE(mutex.IsOpen());
}

TEST(MutexHolderTest, CreatedNewTellsWhetherTheNameExisted) {
  const std::wstring name = UniqueName(L"KvTest_Mutex_CreatedNew");
  MutexHolder first;
  bool createdNew = false;
  ASSERT_FALSE(first.Create(name, false, nullptr, &createdNew).Failed());
  EXPECT_TRUE(createdNew);
  EXPECT_FALSE(first.Owned());

  MutexHolder second;
  createdNew = true;
  ASSERT_FALSE(second.Create(name, false, nullptr, &createdNew).Failed());
  EXPECT_FALSE(createdNew);
  EXPECT_FALSE(second.Owned());

  MutexHolder third;
  ASSERT_FALSE(third.Create(name, /*acquire=*/true).Failed());
  EXPECT_TRUE(third.Owned());
}

DWORD WINAPI LockWithoutWaiting(void* parameter) {
  auto* name = static_cast<std::wstring*>(parameter);
  MutexHolder other;
  if (other.Create(*name, false).Failed()) return 1;
  const ResultChain chain = other.Lock(0);
  if (chain.Last() != WAIT_TIMEOUT || chain.Count() != 2 || !IsLineMarker(chain.Codes().front())) return 2;
  return other.Owned() ? 3 : 0;
}

TEST(MutexHolderTest, LockWithoutWaitingOnMutexHeldByAnotherThreadTimesOut) {
  std::wstring name = UniqueName(L"KvTest_Mutex_Thread");
  MutexHolder mutex;
  ASSERT_FALSE(mutex.Create(name, /*acquire=*/true).Failed());
  ASSERT_TRUE(mutex.Owned());
  WorkerThread thread;
  ASSERT_FALSE(thread.Start(&LockWithoutWaiting, &name).Failed());
  ASSERT_TRUE(thread.Wait(30000).Contains(err::WaitFinish));
  DWORD exitCode = 99;
  ASSERT_TRUE(::GetExitCodeThread(thread.Get(), &exitCode));
  EXPECT_EQ(0u, exitCode);
}

TEST(MutexHolderTest, LockWithoutWaitingOnMutexHeldByAnotherProcessGives258AndLineMarker) {
  const std::wstring name = UniqueName(L"KvTest_Mutex_Process");
  HoldingProcess holder(name);
  ASSERT_TRUE(holder.WaitUntilHolding());

  MutexHolder mutex;
  bool createdNew = true;
  ASSERT_FALSE(mutex.Create(name, /*acquire=*/true, nullptr, &createdNew).Failed());
  EXPECT_FALSE(createdNew);
  EXPECT_FALSE(mutex.Owned()) << "acquire was asked for, but the lock failed";

  ::SetLastError(0xDEADBEEF);
  const ResultChain chain = mutex.Lock(0);
  ASSERT_EQ(2u, chain.Count());
  EXPECT_EQ(static_cast<ErrorCode>(WAIT_TIMEOUT), chain.Last());
  EXPECT_TRUE(IsLineMarker(chain.Codes().front()));
  EXPECT_FALSE(mutex.Owned());
}

TEST(MutexHolderTest, MutexOfAKilledOwnerIsTakenOver) {
  const std::wstring name = UniqueName(L"KvTest_Mutex_Abandoned");
  HoldingProcess holder(name);
  ASSERT_TRUE(holder.WaitUntilHolding());
  MutexHolder mutex;
  ASSERT_FALSE(mutex.Create(name, false).Failed());
  holder.Kill();

  EXPECT_FALSE(mutex.Lock(30000).Failed());
  EXPECT_TRUE(mutex.Owned());
  EXPECT_TRUE(mutex.WasAbandoned());
}

DWORD WINAPI TryLockOnce(void* parameter) {
  auto* name = static_cast<std::wstring*>(parameter);
  MutexHolder other;
  if (other.Create(*name, false).Failed()) return 1;
  return other.Lock(0).Failed() ? 2 : 0;
}

DWORD LockFromOtherThread(std::wstring& name) {
  WorkerThread thread;
  if (thread.Start(&TryLockOnce, &name).Failed()) return 100;
  if (!thread.Wait(30000).Contains(err::WaitFinish)) return 101;
  DWORD exitCode = 102;
  ::GetExitCodeThread(thread.Get(), &exitCode);
  return exitCode;
}

TEST(MutexHolderTest, CloseReleasesEveryAcquisition) {
  std::wstring name = UniqueName(L"KvTest_Mutex_Close");
  MutexHolder keeper;  // keeps the name alive after `mutex` closes
  ASSERT_FALSE(keeper.Create(name, false).Failed());
  MutexHolder mutex;
  ASSERT_FALSE(mutex.Create(name, true).Failed());
  ASSERT_FALSE(mutex.Lock(0).Failed());  // recursive: held twice now
  EXPECT_EQ(2u, LockFromOtherThread(name)) << "held while open";

  ::SetLastError(0xDEADBEEF);
  EXPECT_FALSE(mutex.Close().Failed());
  EXPECT_EQ(0xDEADBEEFu, ::GetLastError());
  EXPECT_FALSE(mutex.IsOpen());
  EXPECT_FALSE(mutex.Owned());
  EXPECT_EQ(0u, LockFromOtherThread(name)) << "free after close";

  EXPECT_FALSE(mutex.Close().Failed()) << "closing an empty holder";
  EXPECT_EQ(err::HandleNotEnabled, mutex.Lock(0).Last());
}

}  // namespace
}  // namespace kv
