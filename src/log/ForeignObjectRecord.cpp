// The record of a named object that someone else made first: which one, whose it is,
// and what the service uses instead, so that an administrator can find the program
// that took the name.
#include <cstdint>
#include <ctime>
#include <string>

#include "foundation/TextFormat.h"
#include "log/MonthlyLog.h"
#include "schedule/TimePoint.h"

namespace kv {

std::wstring ForeignObjectRecordText(const ForeignObject& refused, const TimePoint& now) {
  const wchar_t* instead = refused.type == NamedObjectType::Mutex
                               ? L"the service's own lock alone; entries of other programs may interleave with its own"
                               : L"an unnamed event of the service's own; other programs cannot see it";
  std::wstring record = FormatText(L"[ForeignObject_%s]\n", TimeStamp(now).c_str());
  record += FormatText(L"Name=%s\n", refused.name.c_str());
  record += FormatText(L"Owner=%s\n", refused.owner.c_str());
  record += FormatText(L"Result=%s\n", refused.result.ToText().c_str());
  record += FormatText(L"Instead=%s\n", instead);
  record += L"\n";
  return record;
}

ResultChain MonthlyLog::WriteForeignObject(const ForeignObject& refused) {
  ResultChain written =
      Write(ForeignObjectRecordText(refused, TimePoint(static_cast<std::int32_t>(std::time(nullptr)))));
  if (written.Failed()) return KV_MARK(written);
  return {};
}

}  // namespace kv
