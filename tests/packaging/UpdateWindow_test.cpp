// The update window's arithmetic: each machine's time moves on by its offset, past
// midnight if need be, and the offsets stay inside the window.
#include "setup/UpdateWindow.h"

#include <gtest/gtest.h>

#include <string>

namespace kv {
namespace {

TEST(UpdateWindow, TimesMoveOnByTheOffsetAndWrapAtMidnight) {
  const struct {
    const wchar_t* time;
    unsigned offset;
    const wchar_t* spread;
  } cases[] = {{L"03:00", 0, L"03:00"}, {L"3:00", 17, L"03:17"},   {L"03:45", 30, L"04:15"},
               {L"23:50", 20, L"00:10"}, {L"23:59", 1, L"00:00"}, {L"0:00", 1439, L"23:59"}};
  for (const auto& c : cases) {
    EXPECT_EQ(setup::SpreadUpdateTime(c.time, c.offset), std::wstring(c.spread)) << c.time << L"+" << c.offset;
  }
}

TEST(UpdateWindow, OffsetsStayInsideTheWindowAndSpreadOverIt) {
  EXPECT_EQ(setup::RandomOffsetMinutes(0), 0u);
  EXPECT_EQ(setup::RandomOffsetMinutes(1), 0u);
  bool seen[60] = {};
  for (int i = 0; i < 2000; ++i) {
    const unsigned offset = setup::RandomOffsetMinutes(60);
    ASSERT_LT(offset, 60u);
    seen[offset] = true;
  }
  // 2000 draws from 60 minutes leave one unseen with odds of about 1 in 10^13.
  for (unsigned minute = 0; minute < 60; ++minute) EXPECT_TRUE(seen[minute]) << minute;
}

}  // namespace
}  // namespace kv
