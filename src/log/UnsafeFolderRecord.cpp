// The record of a folder the service would not load its engine from: which folder, who
// besides the trusted principals may write in it, and that the engine stays unloaded,
// so that an administrator learns why no update runs and what to mend.
#include <cstdint>
#include <ctime>
#include <string>

#include "foundation/GroupAccess.h"
#include "foundation/TextFormat.h"
#include "log/MonthlyLog.h"
#include "scan/GuardedFolders.h"
#include "schedule/TimePoint.h"

namespace kv {

std::wstring UnsafeFolderRecordText(const UnsafeFolder& unsafe, const ResultChain& result, const TimePoint& now) {
  std::wstring record = FormatText(L"[UnsafeFolder_%s]\n", TimeStamp(now).c_str());
  record += FormatText(L"Folder=%s\n", unsafe.path.c_str());
  record += FormatText(L"Writers=%s\n", PrincipalNames(unsafe.writers).c_str());
  record += FormatText(L"Result=%s\n", result.ToText().c_str());
  record += L"Instead=no engine is loaded and no update runs until the service starts with the folder closed\n";
  record += L"\n";
  return record;
}

ResultChain MonthlyLog::WriteUnsafeFolder(const UnsafeFolder& unsafe, const ResultChain& result) {
  ResultChain written =
      Write(UnsafeFolderRecordText(unsafe, result, TimePoint(static_cast<std::int32_t>(std::time(nullptr)))));
  if (written.Failed()) return KV_MARK(written);
  return {};
}

}  // namespace kv
