#include "support/EventTrace.h"

#include <windows.h>

#include <cstdio>
#include <map>

#include "support/WinTestUtil.h"

namespace kv::test {

namespace {

std::wstring TracePath() {
  const std::wstring folder = ProgramFolder();
  wchar_t prefix[64] = L"wineprefix";
  ::GetEnvironmentVariableW(L"KV_PREFIX_NAME", prefix, 64);
  return folder.substr(0, folder.find_last_of(L'\\')) + L"\\" + prefix + L".events";
}

// "0124:fixme:advapi:ReportEventW (handle,0x0004,0x0000,0x000003e8,...)" opens an event
// of thread 0124; "0124:trace:eventlog:ReportEventW L\"text\"" (err, warn for the other
// levels) is one of its strings.
std::vector<TracedEvent> Parse(const std::string& text, bool& complete) {
  std::vector<TracedEvent> events;
  std::vector<unsigned> expected;  // each event's count of strings
  std::map<std::string, std::size_t> open;  // thread -> its event being read
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) break;  // a line still being written
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    const std::string thread = line.substr(0, line.find(':'));
    if (const std::size_t call = line.find(":advapi:ReportEventW ("); call != std::string::npos) {
      TracedEvent event;
      unsigned strings = 0;
      if (std::sscanf(line.c_str() + call + 22, "%*[^,],0x%x,0x%*x,0x%x,%*[^,],0x%x,", &event.type, &event.id,
                      &strings) == 3) {
        open[thread] = events.size();
        events.push_back(event);
        expected.push_back(strings);
      }
    } else if (const std::size_t string = line.find(":eventlog:ReportEventW L\""); string != std::string::npos) {
      const auto found = open.find(thread);
      const std::size_t first = string + 25;
      if (found != open.end() && line.size() > first && line.back() == '"') {
        events[found->second].strings.push_back(line.substr(first, line.size() - first - 1));
      }
    }
  }
  complete = true;
  for (std::size_t i = 0; i < events.size(); ++i) complete = complete && events[i].strings.size() == expected[i];
  return events;
}

}  // namespace

std::size_t EventTraceSize() { return ReadFileBytes(TracePath()).size(); }

std::vector<TracedEvent> TracedEvents(std::size_t from, std::size_t count) {
  const ULONGLONG deadline = ::GetTickCount64() + 10000;
  for (;;) {
    const std::string text = ReadFileBytes(TracePath());
    bool complete = false;
    std::vector<TracedEvent> events = Parse(from < text.size() ? text.substr(from) : std::string(), complete);
    if ((events.size() >= count && complete) || ::GetTickCount64() > deadline) return events;
    ::Sleep(50);
  }
}

}  // namespace kv::test
