#include "log/MonthlyLog.h"

#include <string>
#include <utility>

#include "foundation/ErrorCodes.h"
#include "foundation/FileSystem.h"
#include "foundation/OwnFiles.h"
#include "foundation/PathName.h"
#include "foundation/TextEncoding.h"
#include "foundation/TextFormat.h"
#include "kernel/MutexHolder.h"
#include "log/AppendFile.h"
#include "log/LogFolder.h"

namespace kv {

namespace {

// Appends take milliseconds; nobody holds the mutex this long but a program that hangs.
constexpr DWORD kMutexWaitMs = 10000;

}  // namespace

SYSTEMTIME CurrentLocalTime() {
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  return now;
}

std::wstring NormalizeLineBreaks(const std::wstring& text) {
  return ReplaceAll(ReplaceAll(text, L"\r\n", L"\n"), L"\n", L"\r\n");
}

MonthlyLog::MonthlyLog(LocalClock clock) : clock_(clock ? std::move(clock) : LocalClock(&CurrentLocalTime)) {
  // Without the mutex every write is skipped; construction itself never fails. A
  // foreign mutex leaves the holder empty and the log on its critical section alone.
  (void)CreateNamedObject(NamedObjectType::Mutex, kLogMutexName, kLogMutexAccess, mutex_, &foreignMutex_);
}

std::wstring MonthlyLog::MonthFile(const SYSTEMTIME& localTime) const {
  return FormatText(L"%s\\Kv_%04d_%02d.txt", folder_.c_str(), static_cast<int>(localTime.wYear),
                    static_cast<int>(localTime.wMonth));
}

ResultChain MonthlyLog::Write(const std::wstring& entry) {
  if (folder_.empty()) return KV_MARK(err::FileNotFound);
  CriticalSectionGuard guard(writeLock_);

  const std::wstring text = NormalizeLineBreaks(entry);
  const std::wstring file = MonthFile(clock_());
  const bool shared = mutex_.IsOpen();
  if (!shared && !foreignMutex_.result.Failed()) return {};

  std::string bytes;
  if (WideToNarrow(text, CP_ACP, WC_NO_BEST_FIT_CHARS, bytes).Failed()) return {};
  if (!shared) {
    (void)AppendToFile(file, bytes);  // as below: only the entry is lost
    return {};
  }

  // A handle of its own, so that this append's ownership is released by this call on
  // this thread whatever the shared holder does.
  MutexHolder held;
  if (held.Open(kLogMutexName, SYNCHRONIZE).Failed()) return {};
  // Bounded: a program that hangs while holding the mutex costs this one entry, not a
  // service that can no longer stop.
  if (held.Lock(kMutexWaitMs).Failed()) return {};
  // A failed append leaves the file as it was; the entry is lost, never the file.
  (void)AppendToFile(file, bytes);
  return {};
}

ResultChain MonthlyLog::SetFolder(const std::wstring& folder) {
  folder_.clear();
  if (folder.empty()) return {};
  const std::wstring full = PathName(folder).FullPath();
  if (full.empty()) return KV_MARK(err::InvalidLogPath);
  const std::wstring normalized = NormalizePath(full);
  (void)CreateFolders(normalized, /*lastMayBeFile=*/true);  // whether the folder exists afterwards is checked next
  const DWORD attributes = ::GetFileAttributesW(LongPathForm(normalized, PathKind::Folder).c_str());
  // A link someone else planted where the log goes would have the service append to
  // whatever it points at.
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
      CheckOwnFolder(normalized).Failed()) {
    return KV_MARK(err::InvalidLogPath);
  }
  folder_ = normalized;
  return {};
}

}  // namespace kv
