#include "defset/ParallelWork.h"

#include <windows.h>

#include <utility>
#include <vector>

#include "foundation/ErrorCodes.h"
#include "foundation/SrwGuard.h"
#include "kernel/HandleHolder.h"

namespace kv::refengine {

namespace {

// The work is file copies and digests: a small stack will do.
constexpr SIZE_T kStackBytes = 256 * 1024;

struct SharedWork {
  const std::function<ResultChain(std::size_t)>* work = nullptr;
  std::size_t count = 0;
  volatile LONG64 next = 0;
  volatile LONG failed = 0;
  SRWLOCK lock = SRWLOCK_INIT;
  std::size_t failedItem = 0;
  ResultChain failure;
};

void Record(SharedWork& shared, std::size_t item, const ResultChain& failure) {
  {
    const ExclusiveGuard guard(shared.lock);
    if (!shared.failure.Failed() || item < shared.failedItem) {
      shared.failure = failure;
      shared.failedItem = item;
    }
  }
  ::InterlockedExchange(&shared.failed, 1);
}

DWORD WINAPI Worker(void* parameter) {
  auto& shared = *static_cast<SharedWork*>(parameter);
  while (::InterlockedCompareExchange(&shared.failed, 0, 0) == 0) {
    const auto item = static_cast<std::size_t>(::InterlockedIncrement64(&shared.next) - 1);
    if (item >= shared.count) break;
    ResultChain outcome;
    try {
      outcome = (*shared.work)(item);
    } catch (...) {
      outcome = KV_MARK(err::FatalUpdateError);
    }
    if (outcome.Failed()) Record(shared, item, outcome);
  }
  return 0;
}

}  // namespace

ResultChain ForEachInParallel(std::size_t count, unsigned workers,
                              const std::function<ResultChain(std::size_t)>& work) {
  SharedWork shared;
  shared.work = &work;
  shared.count = count;
  std::vector<HandleHolder> threads;
  for (unsigned i = 1; i < workers && i < count; ++i) {
    // A thread that cannot be made leaves its share to the others.
    HandleHolder thread;
    if (thread.Attach(::CreateThread(nullptr, kStackBytes, Worker, &shared, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr))
            .Succeeded()) {
      threads.push_back(std::move(thread));
    }
  }
  Worker(&shared);
  for (const HandleHolder& thread : threads) ::WaitForSingleObject(thread.Get(), INFINITE);
  return shared.failure;
}

}  // namespace kv::refengine
