// "kvtool status": is this machine protected? The service's state from the service control
// manager, the installed definitions from "ScannerVersion.ini", the last update and the
// next one from the end of the monthly log. The first line and the exit code follow the
// monitoring-plugin convention that Nagios, Icinga, Zabbix and NSClient++ read:
//
//   KESTRAVONDALSC OK - definitions 2026.12.08, 0 days old, last update 03:00:12 Success
//
//   0 OK        nothing to report
//   1 WARNING   the last update failed, or the definitions are older than --max-age-days
//   2 CRITICAL  never updated, definitions older than twice that, or the service not running
//   3 UNKNOWN   a file or the service control manager cannot be read, or wrong arguments
//
// It only reads: files are opened with full sharing, and the log from its end, so a large
// month costs no more than a small one.
#include <windows.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Commands.h"
#include "ConsoleOutput.h"
#include "LoggedResult.h"
#include "ToolSupport.h"
#include "config/IniDocument.h"
#include "config/IniText.h"
#include "foundation/ErrorCodes.h"
#include "foundation/ErrorNames.h"
#include "foundation/FileSystem.h"
#include "foundation/PathName.h"
#include "foundation/TextFormat.h"
#include "log/LogTail.h"
#include "protect/ResourceFile.h"
#include "scan/ScannerVersionRecord.h"
#include "service/kernel/ScmHandle.h"
#include "service/ServiceHost.h"

namespace kv::tool {

namespace {

constexpr wchar_t kUsage[] =
    L"usage: kvtool status [--json] [--max-age-days <days>] [<program.exe>]\n"
    L"  the service's state, the installed definitions, the last and the next update;\n"
    L"  exit code 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN (monitoring-plugin convention).\n"
    L"  Without <program.exe>: the program the service is registered with.\n";
constexpr unsigned kDefaultMaxAgeDays = 3;
constexpr unsigned kMostMaxAgeDays = 3650;

enum Level : int { kOk = 0, kWarning = 1, kCritical = 2, kUnknown = 3 };
constexpr const wchar_t* kLevelNames[] = {L"OK", L"WARNING", L"CRITICAL", L"UNKNOWN"};

// A log stamp "yyyymmdd_hhmmss" of local time.
struct Stamp {
  std::tm local{};
  std::time_t moment = -1;
};

std::optional<Stamp> ParseStamp(std::wstring_view text) {
  if (text.size() != 15 || text[8] != L'_') return std::nullopt;
  int digits[14] = {};
  for (std::size_t i = 0, d = 0; i < text.size(); ++i) {
    if (i == 8) continue;
    if (text[i] < L'0' || text[i] > L'9') return std::nullopt;
    digits[d++] = text[i] - L'0';
  }
  auto number = [&](int from, int count) {
    int value = 0;
    for (int i = from; i < from + count; ++i) value = value * 10 + digits[i];
    return value;
  };
  Stamp stamp;
  stamp.local.tm_year = number(0, 4) - 1900;
  stamp.local.tm_mon = number(4, 2) - 1;
  stamp.local.tm_mday = number(6, 2);
  stamp.local.tm_hour = number(8, 2);
  stamp.local.tm_min = number(10, 2);
  stamp.local.tm_sec = number(12, 2);
  stamp.local.tm_isdst = -1;  // the wall clock, whatever the season
  std::tm copy = stamp.local;
  stamp.moment = std::mktime(&copy);
  if (stamp.moment == -1) return std::nullopt;
  return stamp;
}

std::optional<Stamp> StampOfFileTime(const FILETIME& written) {
  FILETIME local{};
  SYSTEMTIME at{};
  if (!::FileTimeToLocalFileTime(&written, &local) || !::FileTimeToSystemTime(&local, &at)) return std::nullopt;
  return ParseStamp(
      FormatText(L"%04u%02u%02u_%02u%02u%02u", at.wYear, at.wMonth, at.wDay, at.wHour, at.wMinute, at.wSecond));
}

bool SameDay(const std::tm& a, const std::tm& b) {
  return a.tm_year == b.tm_year && a.tm_mon == b.tm_mon && a.tm_mday == b.tm_mday;
}

// "2026-12-08T03:00:12" (local time, as the log has it).
std::wstring IsoText(const Stamp& stamp) {
  const std::tm& t = stamp.local;
  return FormatText(L"%04d-%02d-%02dT%02d:%02d:%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min,
                    t.tm_sec);
}

// "03:00:12" on the day of `today`, else "2026-12-07 03:00:12".
std::wstring ShortText(const Stamp& stamp, const std::tm& today) {
  std::wstring iso = IsoText(stamp);
  iso[10] = L' ';
  return SameDay(stamp.local, today) ? iso.substr(11) : iso;
}

std::wstring LongText(const Stamp& stamp) {
  return LocalDateTimeText(TimePoint(static_cast<std::int32_t>(stamp.moment)));
}

// Whole days from a calendar date ("yyyy-mm-dd") to today's.
std::optional<long> DaysSinceDate(std::wstring_view date, const std::tm& today) {
  if (date.size() != 10 || date[4] != L'-' || date[7] != L'-') return std::nullopt;
  const std::optional<Stamp> stamp = ParseStamp(std::wstring(date.substr(0, 4)) + std::wstring(date.substr(5, 2)) +
                                                std::wstring(date.substr(8, 2)) + L"_120000");
  if (!stamp) return std::nullopt;
  std::tm noon = today;
  noon.tm_hour = 12;
  noon.tm_min = noon.tm_sec = 0;
  noon.tm_isdst = -1;
  const std::time_t todayNoon = std::mktime(&noon);
  return std::lround(std::difftime(todayNoon, stamp->moment) / 86400.0);
}

std::wstring Days(long days) { return FormatText(days == 1 ? L"%ld day" : L"%ld days", days); }

bool StartsWith(std::wstring_view text, std::wstring_view prefix) { return text.substr(0, prefix.size()) == prefix; }

// ---------------------------------------------------------------------------- the facts

struct ServiceFacts {
  bool known = false;  // the service control manager answered
  bool installed = false;
  bool running = false;
  std::wstring state = L"unknown";
  std::wstring program;  // the registered program file
  std::wstring failure;  // why the service control manager could not answer
};

struct UpdateFacts {
  Stamp time;
  std::wstring result;     // as logged
  std::wstring rootCause;  // the first piece, printed again from its code
  ErrorCode rootCode = 0;
  bool succeeded = false;  // installed a set or found it current
  std::optional<std::uint32_t> totalSeconds;
};

struct NextFacts {
  std::optional<Stamp> time;  // none when the service could not compute it
  std::wstring logged;        // "NextTime" as logged
  std::wstring updateTime;
  bool scheduled = false;  // "UpdateTime" is hours:minutes
};

struct Facts {
  unsigned maxAgeDays = kDefaultMaxAgeDays;
  ServiceFacts service;
  std::wstring program;
  std::wstring programVersion;
  std::wstring notes;  // what the reader should know about how it was found out
  std::wstring logFolder;
  std::wstring engine;  // the engine library the program's configuration names
  std::wstring versionFile;
  bool versionFileFound = false;
  std::wstring definitionVersion;
  std::wstring definitionDate;
  std::optional<Stamp> versionFileWritten;
  std::optional<UpdateFacts> lastUpdate;
  std::optional<Stamp> lastSuccess;
  bool lastSuccessFromLog = false;
  std::optional<NextFacts> next;
  std::optional<long> ageDays;
  std::wstring unreadable;  // set when a file could not be read: the answer is UNKNOWN
};

const wchar_t* StateName(DWORD state) {
  switch (state) {
    case SERVICE_STOPPED:
      return L"stopped";
    case SERVICE_START_PENDING:
      return L"starting";
    case SERVICE_STOP_PENDING:
      return L"stopping";
    case SERVICE_RUNNING:
      return L"running";
    case SERVICE_CONTINUE_PENDING:
      return L"continuing";
    case SERVICE_PAUSE_PENDING:
      return L"pausing";
    case SERVICE_PAUSED:
      return L"paused";
    default:
      return L"in an unknown state";
  }
}

// The program of a service's command line: the quoted part, or up to ".exe".
std::wstring ProgramOfCommandLine(const std::wstring& line) {
  if (!line.empty() && line[0] == L'"') {
    const std::size_t close = line.find(L'"', 1);
    return line.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1);
  }
  for (std::size_t at = 0; at + 4 <= line.size(); ++at) {
    if (_wcsnicmp(line.c_str() + at, L".exe", 4) == 0) return line.substr(0, at + 4);
  }
  return line;
}

ServiceFacts AskServiceManager() {
  ServiceFacts facts;
  const ScmHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager.IsOpen()) {
    facts.failure = L"the service control manager cannot be asked: " + LastErrorChain().ToText();
    return facts;
  }
  const ScmHandle service(::OpenServiceW(manager.Get(), kServiceNameWide, SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG));
  if (!service.IsOpen()) {
    if (::GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) {
      facts.known = true;
      facts.state = L"not installed";
    } else {
      facts.failure = L"the service cannot be asked: " + LastErrorChain().ToText();
    }
    return facts;
  }
  SERVICE_STATUS status{};
  if (!::QueryServiceStatus(service.Get(), &status)) {
    facts.failure = L"the service's state cannot be read: " + LastErrorChain().ToText();
    return facts;
  }
  facts.known = facts.installed = true;
  facts.running = status.dwCurrentState == SERVICE_RUNNING;
  facts.state = StateName(status.dwCurrentState);
  DWORD needed = 0;
  ::QueryServiceConfigW(service.Get(), nullptr, 0, &needed);
  std::vector<BYTE> buffer(needed > 0 ? needed : sizeof(QUERY_SERVICE_CONFIGW));
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
  if (::QueryServiceConfigW(service.Get(), config, static_cast<DWORD>(buffer.size()), &needed) &&
      config->lpBinaryPathName != nullptr) {
    facts.program = ProgramOfCommandLine(config->lpBinaryPathName);
  }
  return facts;
}

// "major.minor.patch" of a program's version resource; empty without one. Read as a plain
// resource: the system's version functions take several times as long as all the rest.
std::wstring ProgramVersion(const std::wstring& program) {
  ResourceFile file;
  file.SetResourceType(ResourceName(static_cast<int>(reinterpret_cast<std::uintptr_t>(RT_VERSION))));
  std::vector<std::uint8_t> bytes;
  if (file.Open(program).Failed() ||
      (file.Read(ResourceName(VS_VERSION_INFO), LANG_NEUTRAL, bytes).Failed() &&
       file.Read(ResourceName(VS_VERSION_INFO), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), bytes).Failed())) {
    return {};
  }
  // The fixed part starts with its signature, on a four-byte boundary.
  for (std::size_t at = 0; at + sizeof(VS_FIXEDFILEINFO) <= bytes.size(); at += 4) {
    VS_FIXEDFILEINFO info;
    std::memcpy(&info, bytes.data() + at, sizeof info);
    if (info.dwSignature != VS_FFI_SIGNATURE) continue;
    return FormatText(L"%u.%u.%u", HIWORD(info.dwFileVersionMS), LOWORD(info.dwFileVersionMS),
                      HIWORD(info.dwFileVersionLS));
  }
  return {};
}

std::wstring FolderOf(const std::wstring& path) {
  const std::size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

// A configured path as the service running from `programFolder` takes it: anything but a
// drive or UNC path starts from the program's folder.
std::wstring BesideProgram(const std::wstring& programFolder, const std::wstring& value) {
  if (value.empty()) return value;
  if (!SplitPath(value).drive.empty() || StartsWith(value, L"\\\\")) return NormalizePath(value);
  const std::size_t first = value.find_first_not_of(L"\\/");
  return NormalizePath(programFolder + L"\\" + (first == std::wstring::npos ? std::wstring() : value.substr(first)));
}

// Where the program's service keeps its log, version file and engine, from its built-in
// configuration.
void LocateFiles(Facts& facts) {
  std::wstring text;
  if (const ResultChain read = ReadProgramConfig(facts.program, text); read.Failed()) {
    text = L"[Setting]\nLogFolder=log\nScanDll=ScanEngine.dll\n[AntiVirus]\nDefDatFolder=defs\n";
    facts.notes += L"Note: the built-in configuration of the program cannot be read (" + read.ToText() +
                   L"); the default folders are assumed.\n";
  }
  IniDocument config(text);
  const std::wstring folder = FolderOf(facts.program);
  facts.logFolder = BesideProgram(folder, config.GetString(L"LogFolder", L"log", L"Setting"));
  facts.engine = BesideProgram(folder, config.GetString(L"ScanDll", L"", L"Setting"));
  config.SetString(L"DefDatFolder", BesideProgram(folder, config.GetString(L"DefDatFolder", L"", L"AntiVirus")),
                   L"AntiVirus");
  facts.versionFile = ScannerVersionFilePath(config);
}

// "ScannerVersion.ini": INI text in the ANSI code page like the log, read with the same
// reader (full sharing).
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
    if (!engine.empty() && ::GetFileAttributesW(engine.c_str()) != INVALID_FILE_ATTRIBUTES) MergeEngineNames(engine);
  }
  return named() || !root.logged ? PieceText(root.code) : FormatText(L"0x%X:", root.code) + root.loggedText;
}

// The newest update record and the newest next-time record, and the newest successful
// update unless the version file tells it: every success rewrites that file, so its time
// is the same moment, and a long run of failures need not be read back to its start.
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

Facts Gather(const std::wstring& programArgument, unsigned maxAgeDays) {
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
    if (::GetFileAttributesW(beside.c_str()) != INVALID_FILE_ATTRIBUTES) facts.program = beside;
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

// ---------------------------------------------------------------------------- the answer

struct Verdict {
  Level level = kOk;
  std::vector<std::wstring> problems;
  std::wstring summary;
};

std::wstring Joined(const std::vector<std::wstring>& parts) {
  std::wstring text;
  for (const std::wstring& part : parts) text += (text.empty() ? L"" : L", ") + part;
  return text;
}

Verdict Judge(const Facts& facts) {
  Verdict verdict;
  const std::time_t now = std::time(nullptr);
  const std::tm today = *std::localtime(&now);
  const long limit = static_cast<long>(facts.maxAgeDays);
  const bool filesRead = !facts.program.empty();
  std::vector<std::wstring> critical, warning;
  if (facts.service.known && !facts.service.running) critical.push_back(L"service " + facts.service.state);
  const bool neverUpdated = filesRead && !facts.lastSuccess && !facts.versionFileFound;
  if (neverUpdated) {
    critical.push_back(L"never updated");
  } else if (facts.ageDays && *facts.ageDays > 2 * limit) {
    critical.push_back(L"definitions older than " + Days(2 * limit));
  } else if (facts.ageDays && *facts.ageDays > limit) {
    warning.push_back(L"definitions older than " + Days(limit));
  }
  if (facts.lastUpdate && !facts.lastUpdate->succeeded) warning.push_back(L"last update failed");
  verdict.problems = critical;
  verdict.problems.insert(verdict.problems.end(), warning.begin(), warning.end());
  verdict.level = !facts.unreadable.empty() ? kUnknown
                  : !critical.empty()       ? kCritical
                  : !warning.empty()        ? kWarning
                                            : kOk;

  // The problems first, then the facts: "service stopped; definitions 2026.12.08, ...".
  std::vector<std::wstring> found;
  if (filesRead && facts.versionFileFound) {
    std::wstring definitions =
        L"definitions " + (facts.definitionVersion.empty() ? std::wstring(L"(no version)") : facts.definitionVersion);
    if (facts.ageDays) definitions += L", " + Days(*facts.ageDays) + L" old";
    found.push_back(definitions);
  }
  if (facts.lastUpdate) {
    const UpdateFacts& update = *facts.lastUpdate;
    found.push_back(L"last update " + ShortText(update.time, today) + L" " +
                    (update.rootCode == 0                               ? std::wstring(L"Success")
                     : update.rootCode == err::AlreadyLastestDefinition ? std::wstring(L"up to date")
                                                                        : L"failed: " + update.rootCause));
  } else if (filesRead) {
    found.push_back(L"no update in the log");
  }
  std::wstring text = facts.unreadable;
  if (verdict.level != kUnknown) {
    text = Joined(verdict.problems);
    if (!text.empty() && !found.empty()) text += L"; ";
    text += Joined(found);
  }
  verdict.summary = std::wstring(L"KESTRAVONDALSC ") + kLevelNames[verdict.level] + L" - " + text;
  return verdict;
}

std::wstring Details(const Facts& facts) {
  std::wstring out = L"Service:       " + facts.service.state + L"\n";
  if (facts.program.empty()) return out + facts.notes;
  out += L"Program:       " + facts.program;
  if (!facts.programVersion.empty()) out += L" (version " + facts.programVersion + L")";
  out += L"\n";
  out += L"Definitions:   ";
  if (!facts.versionFileFound) {
    out += L"no " + facts.versionFile + L"\n";
  } else {
    out += facts.definitionVersion.empty() ? std::wstring(L"(no version)") : facts.definitionVersion;
    if (!facts.definitionDate.empty()) out += L" dated " + facts.definitionDate;
    if (facts.ageDays) {
      out += FormatText(L", %s old (warning after %s, critical after %s)", Days(*facts.ageDays).c_str(),
                        Days(static_cast<long>(facts.maxAgeDays)).c_str(),
                        Days(2 * static_cast<long>(facts.maxAgeDays)).c_str());
    }
    out += L"\n               from " + facts.versionFile + L"\n";
  }
  if (facts.lastUpdate) {
    const UpdateFacts& update = *facts.lastUpdate;
    out += L"Last update:   " + LongText(update.time) + L": Result=" + update.result + L"\n";
    if (!update.succeeded) {
      out += L"Root cause:    " + update.rootCause + L" (kvtool explain \"" + update.result +
             L"\" reads the whole chain)\n";
    }
  } else {
    out += L"Last update:   none in the log\n";
  }
  out +=
      L"Last success:  " +
      (facts.lastSuccess
           ? LongText(*facts.lastSuccess) +
                 (facts.lastSuccessFromLog ? L"" : L" (the time of ScannerVersion.ini, which every success rewrites)")
           : std::wstring(L"none")) +
      L"\n";
  if (!facts.next) {
    out += L"Next update:   not in the log\n";
  } else if (!facts.next->scheduled) {
    out += L"Next update:   none scheduled: " +
           (facts.next->updateTime.empty() ? std::wstring(L"no UpdateTime")
                                           : L"UpdateTime=" + facts.next->updateTime + L" is not hours:minutes") +
           L"; updates run at the service's start and on request\n";
  } else if (!facts.next->time) {
    out += L"Next update:   none: the service could not compute it (NextTime=" + facts.next->logged +
           L", UpdateTime=" + facts.next->updateTime + L")\n";
  } else {
    out += L"Next update:   " + LongText(*facts.next->time) + L" (UpdateTime=" + facts.next->updateTime + L")\n";
  }
  out += L"Log folder:    " + facts.logFolder + L"\n";
  return out + facts.notes;
}

// ---------------------------------------------------------------------------- JSON

std::wstring Json(const std::wstring& text) {
  std::wstring out = L"\"";
  for (wchar_t c : text) {
    if (c == L'"' || c == L'\\') {
      out += L'\\';
      out += c;
    } else if (c < 0x20) {
      out += FormatText(L"\\u%04x", static_cast<unsigned>(c));
    } else {
      out += c;
    }
  }
  return out + L"\"";
}

std::wstring JsonOrNull(const std::wstring& text) { return text.empty() ? L"null" : Json(text); }

std::wstring JsonObject(const std::vector<std::pair<const wchar_t*, std::wstring>>& fields) {
  std::wstring out = L"{";
  for (const auto& [key, value] : fields) out += (out.size() > 1 ? L"," : L"") + Json(key) + L":" + value;
  return out + L"}";
}

std::wstring ToJson(const Facts& facts, const Verdict& verdict) {
  std::wstring problems = L"[";
  for (const std::wstring& problem : verdict.problems) problems += (problems.size() > 1 ? L"," : L"") + Json(problem);
  problems += L"]";
  std::wstring lastUpdate = L"null";
  if (facts.lastUpdate) {
    const UpdateFacts& update = *facts.lastUpdate;
    lastUpdate = JsonObject({{L"time", Json(IsoText(update.time))},
                             {L"result", Json(update.result)},
                             {L"succeeded", update.succeeded ? L"true" : L"false"},
                             {L"rootCause", Json(update.rootCause)},
                             {L"totalSeconds", update.totalSeconds ? std::to_wstring(*update.totalSeconds) : L"null"}});
  }
  std::wstring next = L"null";
  if (facts.next) {
    next = JsonObject({{L"time", facts.next->time ? Json(IsoText(*facts.next->time)) : L"null"},
                       {L"updateTime", Json(facts.next->updateTime)},
                       {L"scheduled", facts.next->scheduled ? L"true" : L"false"}});
  }
  return JsonObject(
             {{L"status", Json(kLevelNames[verdict.level])},
              {L"exitCode", std::to_wstring(verdict.level)},
              {L"summary", Json(verdict.summary)},
              {L"problems", problems},
              {L"service", JsonObject({{L"name", Json(kServiceNameWide)},
                                       {L"state", Json(facts.service.state)},
                                       {L"program", JsonOrNull(facts.program)},
                                       {L"programVersion", JsonOrNull(facts.programVersion)}})},
              {L"definitions", JsonObject({{L"version", JsonOrNull(facts.definitionVersion)},
                                           {L"date", JsonOrNull(facts.definitionDate)},
                                           {L"ageDays", facts.ageDays ? std::to_wstring(*facts.ageDays) : L"null"},
                                           {L"versionFile", JsonOrNull(facts.versionFile)},
                                           {L"versionFileFound", facts.versionFileFound ? L"true" : L"false"}})},
              {L"lastUpdate", lastUpdate},
              {L"lastSuccess", facts.lastSuccess ? Json(IsoText(*facts.lastSuccess)) : L"null"},
              {L"nextUpdate", next},
              {L"maxAgeDays", std::to_wstring(facts.maxAgeDays)},
              {L"logFolder", JsonOrNull(facts.logFolder)}}) +
         L"\n";
}

int Usage(const std::wstring& problem) {
  WriteError(L"kvtool status: " + problem + L"\n" + kUsage);
  return kUnknown;
}

}  // namespace

int RunStatus(const Arguments& arguments) {
  bool json = false;
  unsigned maxAgeDays = kDefaultMaxAgeDays;
  std::wstring program;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::wstring& argument = arguments[i];
    if (argument == L"--json") {
      json = true;
    } else if (argument == L"--max-age-days" || StartsWith(argument, L"--max-age-days=")) {
      std::wstring value;
      if (argument.size() > 14) {
        value = argument.substr(15);
      } else if (i + 1 < arguments.size()) {
        value = arguments[++i];
      }
      wchar_t* end = nullptr;
      const unsigned long days =
          value.empty() || value[0] < L'0' || value[0] > L'9' ? 0 : std::wcstoul(value.c_str(), &end, 10);
      if (days == 0 || days > kMostMaxAgeDays || end == nullptr || *end != L'\0') {
        return Usage(L"--max-age-days takes a whole number of days from 1 to 3650");
      }
      maxAgeDays = static_cast<unsigned>(days);
    } else if (!argument.empty() && argument[0] != L'-' && program.empty()) {
      program = argument;
    } else {
      return Usage(L"unexpected argument \"" + argument + L"\"");
    }
  }

  const Facts facts = Gather(program, maxAgeDays);
  const Verdict verdict = Judge(facts);
  WriteOut(json ? ToJson(facts, verdict) : verdict.summary + L"\n" + Details(facts));
  return verdict.level;
}

}  // namespace kv::tool
