#include "StatusFacts.h"

#include <windows.h>

#include <cmath>
#include <ctime>
#include <string>

#include "LoggedResult.h"
#include "StatusSteps.h"
#include "ToolSupport.h"
#include "foundation/FileSystem.h"

namespace kv::tool {

Facts GatherStatusFacts(const std::wstring& programArgument, unsigned maxAgeDays) {
  Facts facts;
  facts.maxAgeDays = maxAgeDays;
  facts.service = AskServiceManager();
  if (!facts.service.failure.empty()) facts.unreadable = facts.service.failure;

  if (!programArgument.empty()) {
    facts.program = FullPathOf(programArgument);
    if (!facts.service.program.empty() &&
        _wcsicmp(NormalizePath(facts.service.program).c_str(), NormalizePath(facts.program).c_str()) != 0) {
      facts.notes += L"Note: the service is registered with " + facts.service.program + L".\n";
    }
  } else if (!facts.service.program.empty()) {
    facts.program = facts.service.program;
  } else {
    const std::wstring beside = ToolFolder() + L"\\Kestravondalsc.exe";
    if (::GetFileAttributesW(LongPathForm(beside).c_str()) != INVALID_FILE_ATTRIBUTES) facts.program = beside;
  }
  if (facts.program.empty()) {
    // Nothing to read: only the service's absence can be reported.
    if (facts.service.installed && facts.unreadable.empty()) facts.unreadable = L"the service has no program path";
    return facts;
  }
  if (::GetFileAttributesW(LongPathForm(facts.program).c_str()) == INVALID_FILE_ATTRIBUTES) {
    if (facts.unreadable.empty()) {
      facts.unreadable = L"cannot find " + facts.program + L": " + LastErrorChain().ToText();
    }
    return facts;
  }
  facts.programVersion = ProgramVersion(facts.program);
  LocateFiles(facts);
  CheckAccess(facts);
  ReadVersionFile(facts);
  ReadLog(facts);

  // Logs of earlier months may be gone: the version file is written by every success.
  if (!facts.lastSuccess && facts.versionFileFound) facts.lastSuccess = facts.versionFileWritten;
  const std::time_t now = std::time(nullptr);
  const std::tm today = *std::localtime(&now);
  facts.ageDays = DaysSinceDate(facts.definitionDate, today);
  if (!facts.ageDays && facts.lastSuccess) {
    facts.ageDays = static_cast<long>(std::floor(std::difftime(now, facts.lastSuccess->moment) / 86400.0));
  }
  if (facts.ageDays && *facts.ageDays < 0) facts.ageDays = 0;
  return facts;
}

}  // namespace kv::tool
