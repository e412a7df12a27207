#include "kernel/WorkerThread.h"

#include "foundation/ErrorCodes.h"

namespace kv {

ResultChain WorkerThread::Start(WorkerProc proc, void* parameter, int priority) {
  if (handle_.IsOpen()) return KV_MARK(err::AlreadyOpened);
  if (proc == nullptr) return KV_MARK(err::InvalidArgumentNullPointer);
  DWORD id = 0;
  HANDLE thread = ::CreateThread(/*lpThreadAttributes=*/nullptr, /*dwStackSize=*/0, proc, parameter,
                                 CREATE_SUSPENDED, &id);
  if (thread == nullptr) return KV_MARK(LastErrorChain());
  (void)handle_.Attach(thread);  // a valid handle is always taken
  id_ = id;
  // A priority the system refuses leaves the thread at normal priority; it still runs.
  (void)::SetThreadPriority(thread, priority);
  if (::ResumeThread(thread) == static_cast<DWORD>(-1)) {
    // A thread that can never run must not be reported as started.
    ResultChain failure = KV_MARK(LastErrorChain());
    ::TerminateThread(thread, 0);
    (void)handle_.Close();  // the failure above is the one reported
    id_ = 0;
    return failure;
  }
  return {};
}

ResultChain WorkerThread::Wait(DWORD timeoutMs) {
  if (!handle_.IsOpen()) return KV_MARK(err::HandleNotEnabled);
  switch (::WaitForSingleObject(handle_.Get(), timeoutMs)) {
    case WAIT_OBJECT_0:
      return KV_MARK(err::WaitFinish);
    case WAIT_TIMEOUT:
      return KV_MARK(err::WaitTimeout);
    case WAIT_ABANDONED:
      return KV_MARK(err::WaitAbandoned);
    case WAIT_FAILED: {
      const DWORD error = ::GetLastError();
      ResultChain chain(err::WaitFailed);
      if (error != 0) chain.Add(error);  // Add(0) would empty the chain
      return KV_MARK(chain);
    }
    default:
      return KV_MARK(err::NotSupportError);
  }
}

ResultChain WorkerThread::Close() {
  (void)handle_.Close();  // the handle is given up either way: always succeeds
  id_ = 0;
  return {};
}

}  // namespace kv
