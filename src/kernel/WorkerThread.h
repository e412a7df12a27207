// WorkerThread: one worker thread and its handle.
//
// Closing gives up the handle without waiting for or ending the thread; Wait is how an
// owner learns that the thread has finished.
#pragma once

#include <windows.h>

#include "foundation/ResultChain.h"
#include "kernel/HandleHolder.h"

namespace kv {

// A worker's procedure: one untyped parameter, a 32-bit exit code.
using WorkerProc = DWORD(WINAPI*)(void* parameter);

class WorkerThread {
 public:
  WorkerThread() = default;
  ~WorkerThread() { (void)Close(); }  // always succeeds
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  // Starts `proc(parameter)` at `priority`. AlreadyOpened while a thread is held (Close
  // a finished one first); a thread that cannot be created gives the system error and
  // leaves the holder empty.
  ResultChain Start(WorkerProc proc, void* parameter, int priority = THREAD_PRIORITY_NORMAL);

  // Never empty while a thread is held: WaitFinish when it has ended, WaitTimeout while
  // it runs, WaitAbandoned, WaitFailed with the system error, or NotSupportError.
  // HandleNotEnabled when no thread is held.
  ResultChain Wait(DWORD timeoutMs);

  // Closes the handle; the thread itself runs on. Always succeeds.
  ResultChain Close();

  bool IsStarted() const { return handle_.IsOpen(); }
  // A thread is held and has not ended yet.
  bool IsRunning() const { return handle_.IsOpen() && ::WaitForSingleObject(handle_.Get(), 0) == WAIT_TIMEOUT; }
  HANDLE Get() const { return handle_.Get(); }
  DWORD Id() const { return id_; }

 private:
  HandleHolder handle_{nullptr};
  DWORD id_ = 0;
};

}  // namespace kv
