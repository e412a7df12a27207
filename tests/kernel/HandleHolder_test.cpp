#include "kernel/HandleHolder.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <utility>

#include "foundation/ErrorCodes.h"
#include "kernel/EventHolder.h"

namespace kv {
namespace {

constexpr DWORD kPoison = 0xDEADBEEF;

bool IsValidHandle(HANDLE h) {
  DWORD flags = 0;
  return ::GetHandleInformation(h, &flags) != FALSE;
}

TEST(HandleHolderTest, ClosingTwiceSucceedsAndSecondCloseTouchesNothing) {
  HandleHolder holder;
  ASSERT_FALSE(holder.Attach(::CreateEventW(nullptr, TRUE, FALSE, nullptr)).Failed());
  const HANDLE raw = holder.Get();
  ASSERT_TRUE(IsValidHandle(raw));

  EXPECT_FALSE(holder.Close().Failed());
  EXPECT_FALSE(IsValidHandle(raw));
  EXPECT_FALSE(holder.IsOpen());

  ::SetLastError(kPoison);
  EXPECT_FALSE(holder.Close().Failed());
  EXPECT_EQ(kPoison, ::GetLastError());
}

TEST(HandleHolderTest, AttachOfInvalidValueReportsTheErrorOfTheCall) {
  struct Case {
    DWORD lastError;
    ErrorCode expected;
  };
  for (const Case& c : {Case{ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED}, Case{0, ERROR_INVALID_HANDLE}}) {
    HandleHolder holder;
    ASSERT_FALSE(holder.Attach(::CreateEventW(nullptr, TRUE, FALSE, nullptr)).Failed());
    const HANDLE previous = holder.Get();
    DWORD recorded = kPoison;
    ::SetLastError(c.lastError);
    const ResultChain chain = holder.Attach(nullptr, &recorded);
    EXPECT_EQ(c.expected, chain.Last());
    EXPECT_EQ(c.lastError, recorded);
    EXPECT_FALSE(holder.IsOpen()) << "the previous handle is closed";
    EXPECT_FALSE(IsValidHandle(previous));
  }
}

TEST(HandleHolderTest, AttachRecordsTheErrorOfASuccessfulCall) {
  HandleHolder first;
  const wchar_t* name = L"KvTest_HandleHolder_Attach";
  ASSERT_FALSE(first.Attach(::CreateEventW(nullptr, TRUE, FALSE, name)).Failed());
  HandleHolder second;
  DWORD recorded = kPoison;
  EXPECT_FALSE(second.Attach(::CreateEventW(nullptr, TRUE, FALSE, name), &recorded).Failed());
  EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), recorded);
  EXPECT_TRUE(second.IsOpen());
}

TEST(HandleHolderTest, CheckOpenOfEmptyHolderIsHandleNotEnabled) {
  HandleHolder holder;
  const ResultChain chain = holder.CheckOpen();
  EXPECT_EQ(err::HandleNotEnabled, chain.Last());
  EXPECT_TRUE(IsLineMarker(chain.Codes().front()));

  HandleHolder files(INVALID_HANDLE_VALUE);
  EXPECT_EQ(err::HandleNotEnabled, files.CheckOpen().Last());
  EXPECT_FALSE(files.Close().Failed());
}

TEST(HandleHolderTest, DestructionClosesAndKeepsTheCallersLastError) {
  HANDLE raw = nullptr;
  {
    HandleHolder holder;
    ASSERT_FALSE(holder.Attach(::CreateEventW(nullptr, TRUE, FALSE, nullptr)).Failed());
    raw = holder.Get();
    ::SetLastError(kPoison);
  }
  EXPECT_EQ(kPoison, ::GetLastError());
  EXPECT_FALSE(IsValidHandle(raw));
}

TEST(HandleHolderTest, MovingTransfersOwnership) {
  HandleHolder a;
  ASSERT_FALSE(a.Attach(::CreateEventW(nullptr, TRUE, FALSE, nullptr)).Failed());
  const HANDLE raw = a.Get();
  HandleHolder b(std::move(a));
  EXPECT_FALSE(a.IsOpen());
  EXPECT_EQ(raw, b.Get());
  HandleHolder c;
  c = std::move(b);
  EXPECT_EQ(raw, c.Get());
  EXPECT_TRUE(IsValidHandle(raw));
}

TEST(EventHolderTest, ResetModesBehaveAsAsked) {
  struct Case {
    bool autoReset;
    DWORD secondWait;
  };
  for (const Case& c : {Case{false, WAIT_OBJECT_0}, Case{true, WAIT_TIMEOUT}}) {
    EventHolder event;
    ASSERT_FALSE(event.Create(c.autoReset, /*initialState=*/false).Failed());
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), ::WaitForSingleObject(event.Get(), 0));
    ASSERT_TRUE(::SetEvent(event.Get()));
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), ::WaitForSingleObject(event.Get(), 0));
    EXPECT_EQ(c.secondWait, ::WaitForSingleObject(event.Get(), 0)) << "autoReset=" << c.autoReset;
  }
}

TEST(EventHolderTest, NamedEventIsSharedAndRecreationReplacesTheHandle) {
  EventHolder a;
  EventHolder b;
  ASSERT_FALSE(a.Create(false, false, L"KvTest_EventHolder_Named").Failed());
  ASSERT_FALSE(b.Create(false, false, L"KvTest_EventHolder_Named").Failed());
  ASSERT_TRUE(::SetEvent(a.Get()));
  EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), ::WaitForSingleObject(b.Get(), 0));

  // Recreated unnamed: b now holds an event of its own, a keeps the named one.
  ASSERT_FALSE(b.Create(false, true).Failed());
  EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), ::WaitForSingleObject(b.Get(), 0));
  ASSERT_TRUE(::ResetEvent(b.Get()));
  EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), ::WaitForSingleObject(a.Get(), 0));
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), ::WaitForSingleObject(b.Get(), 0));
}

}  // namespace
}  // namespace kv
