#include "foundation/ResultChain.h"

#include <gtest/gtest.h>

namespace kv {
namespace {

TEST(ResultChain, EmptyIsSuccess) {
  ResultChain chain;
  EXPECT_EQ(chain.Count(), 0u);
  EXPECT_EQ(chain.ToText(), L"0x0:Success");
}

}  // namespace
}  // namespace kv
