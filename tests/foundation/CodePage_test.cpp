// The Japanese run of the suite really runs in code page 932.
#include <windows.h>

#include <gtest/gtest.h>

namespace {

TEST(CodePage932, WineRunsInTheJapaneseCodePage) {
  // This suite only runs under LC_ALL=ja_JP.UTF-8; a wrong locale set-up would make
  // every CodePage932 test skip silently, so this one insists.
  EXPECT_EQ(::GetACP(), 932u);
}

}  // namespace
