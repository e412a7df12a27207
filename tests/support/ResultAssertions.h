// EXPECT_OK / ASSERT_OK: a call that must succeed. The expression is evaluated once; when
// its chain is not empty the failure message names the expression and gives the chain's
// text, so a failing run tells where the operation stopped and why.
#pragma once

#include <gtest/gtest.h>

#include "foundation/ResultChain.h"
#include "support/WinTestUtil.h"

namespace kv::test {

// gtest predicate-format for the two macros below.
inline ::testing::AssertionResult ChainSucceeded(const char* expression, const ResultChain& chain) {
  if (!chain.Failed()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << expression << " failed: " << Narrow(chain.ToText());
}

}  // namespace kv::test

#define EXPECT_OK(expr) EXPECT_PRED_FORMAT1(::kv::test::ChainSucceeded, expr)
#define ASSERT_OK(expr) ASSERT_PRED_FORMAT1(::kv::test::ChainSucceeded, expr)
