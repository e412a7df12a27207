// Status facts from what the service recorded: its version file and the month's log.
#include <windows.h>

#include <cwchar>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "LoggedResult.h"
#include "StatusSteps.h"
#include "config/IniDocument.h"
#include "config/IniText.h"
#include "foundation/ErrorCodes.h"
#include "foundation/ErrorNames.h"
#include "foundation/FileSystem.h"
#include "foundation/TextFormat.h"
#include "log/LogTail.h"

namespace kv::tool {

namespace {

bool StartsWith(std::wstring_view text, std::wstring_view prefix) { return text.substr(0, prefix.size()) == prefix; }

// The first piece of a logged Result, the root cause; none when the text is not a chain.
std::optional<ChainPiece> RootOf(const std::wstring& result) {
  std::vector<ChainPiece> pieces;
  std::wstring bad;
  if (!ParseChainText(result, pieces, bad) || pieces.empty()) return std::nullopt;
  return pieces.front();
}

// The root cause as kvtool explain prints it: the engine's own codes named by the engine
// the program uses (else the one beside kvtool), and where no table names a code, with
// the text the log gave it.
std::wstring RootCauseText(const Facts& facts, const ChainPiece& root) {
  auto named = [&] { return !IsFamilyCode(root.code) || CodeName(root.code) != L"InvalidEnumValue"; };
  for (const std::wstring& engine : {facts.engine, ToolFolder() + L"\\ScanEngine.dll"}) {
    if (named()) break;
    if (!engine.empty() && ::GetFileAttributesW(LongPathForm(engine).c_str()) != INVALID_FILE_ATTRIBUTES) {
      (void)MergeEngineNames(engine);  // best effort: names only make the text readable
    }
  }
  return named() || !root.logged ? PieceText(root.code) : FormatText(L"0x%X:", root.code) + root.loggedText;
}

}  // namespace

void ReadVersionFile(Facts& facts) {
  std::wstring text;
  bool stopped = false;
  const ResultChain read = ReadRecordsBackwards(
      facts.versionFile,
      [&](const LogRecord& record) {
        text.insert(0, record.text);
        return true;
      },
      stopped);
  if (read.Contains(err::FileNotFound)) return;
  if (read.Failed()) {
    facts.unreadable = L"cannot read " + facts.versionFile + L": " + read.ToText();
    return;
  }
  facts.versionFileFound = true;
  IniDocument version(text);
  facts.definitionVersion = version.GetString(L"DefinitionVersion", L"", L"ScannerVersion");
  facts.definitionDate = version.GetString(L"DefinitionDate", L"", L"ScannerVersion");
  WIN32_FILE_ATTRIBUTE_DATA attributes{};
  if (::GetFileAttributesExW(LongPathForm(facts.versionFile).c_str(), GetFileExInfoStandard, &attributes)) {
    facts.versionFileWritten = StampOfFileTime(attributes.ftLastWriteTime);
  }
}

void ReadLog(Facts& facts) {
  const ResultChain read = ReadLogBackwards(facts.logFolder, [&](const LogRecord& record) {
    const bool isUpdate = StartsWith(record.name, L"Update_");
    const bool isNext = StartsWith(record.name, L"NextTime_");
    if ((isUpdate && facts.lastSuccess) || (isNext && facts.next) || (!isUpdate && !isNext)) return true;
    IniDocument document(record.text);
    const std::optional<Stamp> stamp = ParseStamp(std::wstring_view(record.name).substr(record.name.find(L'_') + 1));
    if (isNext) {
      NextFacts found;
      found.logged = document.GetString(L"NextTime", L"", record.name);
      found.time = ParseStamp(found.logged);  // "19000100_000000" when there was none to compute
      found.updateTime = document.GetString(L"UpdateTime", L"", record.name);
      found.scheduled = SplitAtAny(found.updateTime, L":").size() == 2;
      facts.next = found;
    } else if (stamp) {
      UpdateFacts update;
      update.time = *stamp;
      update.result = document.GetString(L"Result", L"", record.name);
      // A record without a Result is being written or is not the service's.
      if (update.result.empty()) return true;
      const std::optional<ChainPiece> root = RootOf(update.result);
      update.rootCode = root ? root->code : err::InvalidArgument;
      update.succeeded = root && (root->code == 0 || root->code == err::AlreadyLastestDefinition);
      if (!facts.lastUpdate) {
        // Only the newest is shown; older records only tell whether they succeeded.
        update.rootCause = root ? RootCauseText(facts, *root) : update.result;
        const std::wstring seconds = document.GetString(L"TotalTime", L"", record.name);
        if (!seconds.empty()) update.totalSeconds = document.GetInt(L"TotalTime", 0, 10, record.name);
        const std::wstring fetched = document.GetString(L"FetchedBytes", L"", record.name);
        if (!fetched.empty() && fetched.find_first_not_of(L"0123456789") == std::wstring::npos) {
          update.fetchedBytes = std::wcstoull(fetched.c_str(), nullptr, 10);
        }
        facts.lastUpdate = update;
      }
      if (update.succeeded) {
        facts.lastSuccess = update.time;
        facts.lastSuccessFromLog = true;
      }
    }
    return !(facts.lastUpdate && facts.next && (facts.lastSuccess || facts.versionFileFound));
  });
  if (read.Failed()) facts.unreadable = L"cannot read the log in " + facts.logFolder + L": " + read.ToText();
}

}  // namespace kv::tool
