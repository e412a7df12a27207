// Records of the log that say one thing at one moment: a header with the record's kind
// and time, one "Key=value" line per field, an empty line.
#include <cstdint>
#include <ctime>
#include <string>

#include "foundation/TextFormat.h"
#include "log/MonthlyLog.h"
#include "schedule/TimePoint.h"

namespace kv {

std::wstring RecordText(const std::wstring& kind, const RecordFields& fields, const TimePoint& now) {
  std::wstring record = FormatText(L"[%s_%s]\n", kind.c_str(), TimeStamp(now).c_str());
  for (const auto& [key, value] : fields) record += key + L"=" + value + L"\n";
  return record + L"\n";
}

ResultChain MonthlyLog::WriteRecord(const std::wstring& kind, const RecordFields& fields) {
  ResultChain written = Write(RecordText(kind, fields, TimePoint(static_cast<std::int32_t>(std::time(nullptr)))));
  if (written.Failed()) return KV_MARK(written);
  return {};
}

}  // namespace kv
