// A few files at a time: fetching and checking a set's files on several threads keeps
// several connections busy (one slow transfer does not hold up the rest) and several
// processors hashing.
#pragma once

#include <cstddef>
#include <functional>

#include "foundation/ResultChain.h"

namespace kv::refengine {

// Files fetched at the same time, and files checked at the same time. Every transfer
// in flight costs its connection's and its thread's memory (under Wine several MB
// each), while checking is processor work that a second processor halves.
inline constexpr unsigned kParallelFetches = 1;
inline constexpr unsigned kParallelChecks = 2;

// Runs `work(i)` for every i below `count` on up to `workers` threads (the calling one
// among them). After a failure no further item is started; the failure of the lowest
// item that failed is returned. An exception thrown by `work` counts as
// FatalUpdateError.
ResultChain ForEachInParallel(std::size_t count, unsigned workers, const std::function<ResultChain(std::size_t)>& work);

}  // namespace kv::refengine
