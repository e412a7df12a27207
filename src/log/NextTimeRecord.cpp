// The next-time record: a small INI block in the monthly log that tells an administrator
// when the service means to run its next scheduled update, and from which "UpdateTime".
#include <cstdint>
#include <ctime>
#include <string>

#include "config/IniDocument.h"
#include "config/UpdateSettings.h"
#include "foundation/TextFormat.h"
#include "log/MonthlyLog.h"
#include "schedule/TimePoint.h"

namespace kv {

ResultChain MonthlyLog::WriteNextTime(IniDocument& updateSettings, const TimePoint& next, const std::wstring& comment) {
  return WriteNextTime(updateSettings, next, comment, TimePoint(static_cast<std::int32_t>(std::time(nullptr))));
}

std::wstring NextTimeRecordText(IniDocument& updateSettings, const TimePoint& next, const std::wstring& comment,
                                const TimePoint& now) {
  std::wstring record = FormatText(L"[NextTime_%s]\n", TimeStamp(now).c_str());
  if (!comment.empty()) record += FormatText(L";%s\n", comment.c_str());
  record += FormatText(L"NextTime=%s\n", TimeStamp(next).c_str());
  record += FormatText(L"UpdateTime=%s\n", updateSettings.GetString(L"UpdateTime", L"", kSettingsSection).c_str());
  record += L"\n";
  return record;
}

ResultChain MonthlyLog::WriteNextTime(IniDocument& updateSettings, const TimePoint& next, const std::wstring& comment,
                                      const TimePoint& now) {
  ResultChain written = Write(NextTimeRecordText(updateSettings, next, comment, now));
  if (written.Failed()) return KV_MARK(written);
  return {};
}

}  // namespace kv
