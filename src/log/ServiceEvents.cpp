#include "log/ServiceEvents.h"

#include <windows.h>

#include <vector>

#include "foundation/ErrorCodes.h"
#include "foundation/ServiceName.h"
#include "foundation/TextFormat.h"
#include "foundation/UniqueOwner.h"

namespace kv {

namespace {

// The event source, for one report.
using EventSource = UniqueOwner<HANDLE, &::DeregisterEventSource>;

// The event's level in the log.
unsigned short ServiceEventType(ServiceEvent event) {
  switch (event) {
    case ServiceEvent::DefinitionsInstalled:
      return EVENTLOG_INFORMATION_TYPE;
    case ServiceEvent::UpdateDeferred:
    case ServiceEvent::DefinitionsExpired:
    case ServiceEvent::CleanupRefused:
    case ServiceEvent::SettingsReadable:
      return EVENTLOG_WARNING_TYPE;
    case ServiceEvent::UpdateFailed:
    case ServiceEvent::ForeignObjectRefused:
    case ServiceEvent::UnsafeFolder:
    case ServiceEvent::EngineNotLoaded:
      break;
  }
  return EVENTLOG_ERROR_TYPE;
}

}  // namespace

ResultChain ReportServiceEvent(ServiceEvent event, std::initializer_list<std::wstring> inserts) {
  const EventSource source(::RegisterEventSourceW(nullptr, kServiceNameWide));
  if (!source.IsOpen()) return KV_MARK(LastErrorChain());
  std::vector<const wchar_t*> strings;
  for (const std::wstring& insert : inserts) strings.push_back(insert.c_str());
  if (!::ReportEventW(source.Get(), ServiceEventType(event), /*wCategory=*/0, static_cast<DWORD>(event),
                      /*lpUserSid=*/nullptr, static_cast<WORD>(strings.size()), /*dwDataSize=*/0, strings.data(),
                      /*lpRawData=*/nullptr)) {
    return KV_MARK(LastErrorChain());
  }
  return {};
}

std::wstring ResultCodesHex(const ResultChain& result) {
  std::wstring text;
  const std::vector<ErrorCode>& codes = result.Codes();
  for (auto code = codes.rbegin(); code != codes.rend(); ++code) {
    if (IsLineMarker(*code)) continue;
    text += FormatText(text.empty() ? L"0x%X" : L",0x%X", static_cast<unsigned>(*code));
  }
  return text;
}

}  // namespace kv
