#include "StatusFacts.h"

#include <windows.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "DefinitionManifest.h"
#include "LoggedResult.h"
#include "ToolSupport.h"
#include "config/IniDocument.h"
#include "config/IniText.h"
#include "config/UpdateSettings.h"
#include "foundation/ErrorCodes.h"
#include "foundation/ErrorNames.h"
#include "foundation/FileSystem.h"
#include "foundation/PathName.h"
#include "foundation/SecurityDescriptor.h"
#include "foundation/TextFormat.h"
#include "log/LogTail.h"
#include "protect/ResourceFile.h"
#include "scan/NotBeforeRecord.h"
#include "scan/ScannerVersionRecord.h"
#include "kernel/HandleHolder.h"
#include "kernel/ScmHandle.h"
#include "service/ServiceHost.h"

namespace kv::tool {

namespace {

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

bool StartsWith(std::wstring_view text, std::wstring_view prefix) { return text.substr(0, prefix.size()) == prefix; }

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
  // Always succeeds.
  (void)config.SetString(L"DefDatFolder", BesideProgram(folder, config.GetString(L"DefDatFolder", L"", L"AntiVirus")),
                         L"AntiVirus");
  facts.versionFile = ScannerVersionFilePath(config);
  facts.guardedFolders = GuardedFolders(folder, config);
  // The engine's record of a server that asked for time. One that cannot be read holds
  // the engine back no more than it is reported here.
  const std::wstring definitions = config.GetString(L"DefDatFolder", L"", L"AntiVirus");
  if (definitions.empty()) return;
  const std::optional<NotBeforeRecord> wait = ReadNotBefore(LongPathForm(NotBeforePath(definitions)));
  if (wait && wait->utc > UtcNow()) facts.notBefore = wait->utc;
  // The installed set's signed expiry, where its engine publishes one: past it, the
  // machine is on definitions no publisher vouches for any more, however they came.
  std::string bytes;
  refengine::DefinitionManifest installed;
  if (!refengine::LoadManifest(definitions, bytes, installed).Failed()) facts.definitionsExpire = installed.expires;
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
    if (!engine.empty() && ::GetFileAttributesW(LongPathForm(engine).c_str()) != INVALID_FILE_ATTRIBUTES) {
      (void)MergeEngineNames(engine);  // best effort: names only make the text readable
    }
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

// The folders the service refuses to load its engine from while anyone untrusted may
// write in them (the same check, so the same answer); whoever may read the settings
// file reads its proxy password.
void CheckAccess(Facts& facts) {
  // The unsafe folder found, if any, is the answer.
  (void)CheckGuardedFolders(facts.guardedFolders, facts.unsafeFolder);
  const std::wstring folder = FolderOf(facts.program);
  facts.settingsFile = folder + L"\\" + kSettingsFileName;
  if (::GetFileAttributesW(LongPathForm(facts.settingsFile).c_str()) == INVALID_FILE_ATTRIBUTES) return;
  IniDocument settings;
  (void)settings.SetDefaultSection(kSettingsSection);  // always succeeds
  (void)LoadIniFile(facts.settingsFile, settings);     // unreadable: no password to warn of
  if (const ResultChain read = ProxyPassReaders(facts.settingsFile, settings, facts.passwordReaders); read.Failed()) {
    facts.notes += L"Note: the access list of " + facts.settingsFile + L" cannot be read (" + read.ToText() + L").\n";
  }
}

}  // namespace

std::wstring IsoText(const Stamp& stamp) {
  const std::tm& t = stamp.local;
  return FormatText(L"%04d-%02d-%02dT%02d:%02d:%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min,
                    t.tm_sec);
}

std::wstring ShortText(const Stamp& stamp, const std::tm& today) {
  std::wstring iso = IsoText(stamp);
  iso[10] = L' ';
  return SameDay(stamp.local, today) ? iso.substr(11) : iso;
}

std::wstring LongText(const Stamp& stamp) {
  return LocalDateTimeText(TimePoint(static_cast<std::int32_t>(stamp.moment)));
}

std::wstring Days(long days) { return FormatText(days == 1 ? L"%ld day" : L"%ld days", days); }

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
