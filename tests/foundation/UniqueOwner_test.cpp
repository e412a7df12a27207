#include "foundation/UniqueOwner.h"

#include <gtest/gtest.h>

namespace kv {
namespace {

// A release call that records what it was given and spoils the thread's last error, as
// a failing CloseHandle would.
int g_released = 0;
std::intptr_t g_lastReleased = 0;
BOOL RecordRelease(HANDLE h) {
  ++g_released;
  g_lastReleased = reinterpret_cast<std::intptr_t>(h);
  ::SetLastError(ERROR_INVALID_HANDLE);
  return TRUE;
}
using Counted = UniqueOwner<HANDLE, &RecordRelease>;
using CountedFile = UniqueOwner<HANDLE, &RecordRelease, kInvalidHandleBits>;

HANDLE Fake(std::intptr_t bits) { return reinterpret_cast<HANDLE>(bits); }

TEST(UniqueOwnerTest, ReleasesOnceAcrossMovesAndKeepsTheLastError) {
  g_released = 0;
  {
    Counted first(Fake(7));
    Counted second(std::move(first));
    EXPECT_FALSE(first.IsOpen());
    Counted third;
    third = std::move(second);
    ::SetLastError(ERROR_FILE_NOT_FOUND);
    third.Reset(Fake(8));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(g_released, 1);
    EXPECT_EQ(g_lastReleased, 7);
    ::SetLastError(ERROR_ACCESS_DENIED);
  }
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(g_released, 2);
  EXPECT_EQ(g_lastReleased, 8);
}

// Rows: the empty value never reaches the release call; null is a handle for owners
// whose empty value is INVALID_HANDLE_VALUE; Put releases before refilling; Detach hands
// over without releasing.
TEST(UniqueOwnerTest, EmptyValuePutAndDetach) {
  g_released = 0;
  {
    CountedFile none;
    EXPECT_FALSE(none.IsOpen());
    EXPECT_EQ(none.Get(), INVALID_HANDLE_VALUE);
  }
  { Counted none(nullptr); }
  EXPECT_EQ(g_released, 0);
  {
    CountedFile zero(nullptr);
    EXPECT_TRUE(zero.IsOpen());
  }
  EXPECT_EQ(g_released, 1);
  Counted filled(Fake(3));
  *filled.Put() = Fake(4);
  EXPECT_EQ(g_released, 2);
  EXPECT_EQ(g_lastReleased, 3);
  EXPECT_EQ(filled.Detach(), Fake(4));
  EXPECT_FALSE(filled.IsOpen());
  EXPECT_EQ(g_released, 2);
}

}  // namespace
}  // namespace kv
