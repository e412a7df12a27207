// "kvtool status": is this machine protected? The service's state from the service control
// manager, the installed definitions from "ScannerVersion.ini", the last update and the
// next one from the end of the monthly log. The first line and the exit code follow the
// monitoring-plugin convention that Nagios, Icinga, Zabbix and NSClient++ read:
//
//   KESTRAVONDALSC OK - definitions 2026.12.08, 0 days old, last update 03:00:12 Success | ...
//
//   0 OK        nothing to report
//   1 WARNING   the last update failed, the definitions are older than --max-age-days,
//               or the settings file holds a proxy password that users may read
//   2 CRITICAL  never updated, definitions older than twice that or past their signed
//               expiry, the service not running, or users may write in the program's folder
//   3 UNKNOWN   a file or the service control manager cannot be read, or wrong arguments
//
// The line ends with the plugin's performance data (Perfdata.h). The same facts come as
// JSON, or as Prometheus text (PrometheusText.h) on the output or in a file a collector
// polls; the exit code is the plugin's in every form.
//
// It only reads the service's files: they are opened with full sharing, and the log from
// its end, so a large month costs no more than a small one.
#include <windows.h>

#include <ctime>
#include <string>
#include <vector>

#include "Commands.h"
#include "ConsoleOutput.h"
#include "Perfdata.h"
#include "PrometheusFile.h"
#include "PrometheusText.h"
#include "StatusFacts.h"
#include "defset/NotBeforeRecord.h"
#include "foundation/ErrorCodes.h"
#include "foundation/GroupAccess.h"
#include "foundation/PrivateFileAccess.h"
#include "foundation/ResultChain.h"
#include "foundation/TextFormat.h"
#include "service/ServiceHost.h"

namespace kv::tool {

namespace {


constexpr wchar_t kUsage[] =
    L"usage: kvtool status [--json | --prometheus | --prometheus-file <file.prom>] [--max-age-days <days>]\n"
    L"                     [<program.exe>]\n"
    L"  the service's state, the installed definitions, the last and the next update;\n"
    L"  exit code 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN (monitoring-plugin convention).\n"
    L"  --prometheus prints Prometheus text; --prometheus-file writes it to the file, whole\n"
    L"  and by rename, and prints nothing.\n"
    L"  Without <program.exe>: the program the service is registered with.\n";
constexpr unsigned kDefaultMaxAgeDays = 3;
constexpr unsigned kMostMaxAgeDays = 3650;

enum Level : int { kOk = 0, kWarning = 1, kCritical = 2, kUnknown = 3 };
constexpr const wchar_t* kLevelNames[] = {L"OK", L"WARNING", L"CRITICAL", L"UNKNOWN"};

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

// "folder C:\Kv writable by Everyone", or that its access list cannot be read, which the
// service takes the same way.
std::wstring UnsafeFolderText(const UnsafeFolder& unsafe) {
  return unsafe.writers.empty() ? L"access list of " + unsafe.path + L" unreadable"
                                : L"folder " + unsafe.path + L" writable by " + PrincipalNames(unsafe.writers);
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
  // A server that asked for time is waited for, which is no failure while the
  // definitions are fresh enough.
  const bool deferred = facts.notBefore && facts.lastUpdate && !facts.lastUpdate->succeeded && facts.ageDays &&
                        *facts.ageDays <= limit;
  if (deferred) {
    warning.push_back(L"updates deferred until " + UtcText(*facts.notBefore) + L" as the server asked");
  } else if (facts.lastUpdate && !facts.lastUpdate->succeeded) {
    warning.push_back(L"last update failed");
  }
  // Whatever their age: a set past its signed expiry is one a frozen or hostile mirror
  // may be holding the machine on.
  if (facts.definitionsExpire && *facts.definitionsExpire <= UtcNow()) {
    critical.push_back(L"definitions expired " + UtcText(*facts.definitionsExpire));
  }
  if (!facts.unsafeFolder.path.empty()) critical.push_back(UnsafeFolderText(facts.unsafeFolder));
  if (!facts.passwordReaders.empty()) {
    critical.push_back(L"ProxyPass readable by " + PrincipalNames(facts.passwordReaders));
  }
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
                     : deferred ? L"deferred: " + update.rootCause
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
  // A bar would start the performance data early for every monitoring system.
  for (wchar_t& c : text) c = c == L'|' ? L'/' : c;
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
  if (facts.definitionsExpire) {
    out += L"Expires:       " + UtcText(*facts.definitionsExpire) + L" (signed by the publisher)\n";
  }
  if (facts.notBefore) {
    out += L"Deferred:      no request before " + UtcText(*facts.notBefore) + L", as the web server asked\n";
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
  if (!facts.unsafeFolder.path.empty()) {
    out += L"Security:      " + UnsafeFolderText(facts.unsafeFolder) +
           L": the service loads no engine while it is so.\n"
           L"               Install under Program Files, or give the folder an access list of its own\n"
           L"               (docs/install.md, \"A safe place for the program\").\n";
  }
  if (!facts.passwordReaders.empty()) {
    out += L"Settings:      " + facts.settingsFile + L" holds ProxyPass and " +
           PrincipalNames(facts.passwordReaders) + L" may read it. Mend it with:\n               " +
           PrivateFileIcaclsLine(facts.settingsFile) + L"\n";
  }
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
              {L"notBefore", facts.notBefore ? Json(UtcText(*facts.notBefore)) : L"null"},
              {L"nextUpdate", next},
              {L"maxAgeDays", std::to_wstring(facts.maxAgeDays)},
              {L"logFolder", JsonOrNull(facts.logFolder)}}) +
         L"\n";
}

int Usage(const std::wstring& problem) {
  WriteError(L"kvtool status: " + problem + L"\n" + kUsage);
  return kUnknown;
}

// The value of "--name value" or "--name=value" at arguments[i] (i moved past it); false
// for another argument.
bool OptionValue(const Arguments& arguments, std::size_t& i, const std::wstring& name, std::wstring& value) {
  const std::wstring& argument = arguments[i];
  value.clear();
  if (argument.rfind(name + L"=", 0) == 0) {
    value = argument.substr(name.size() + 1);
  } else if (argument != name) {
    return false;
  } else if (i + 1 < arguments.size()) {
    value = arguments[++i];
  }
  return true;
}

}  // namespace

int RunStatus(const Arguments& arguments) {
  bool json = false;
  bool prometheus = false;
  std::wstring prometheusFile;
  std::wstring value;
  unsigned maxAgeDays = kDefaultMaxAgeDays;
  std::wstring program;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::wstring& argument = arguments[i];
    if (argument == L"--json") {
      json = true;
    } else if (argument == L"--prometheus") {
      prometheus = true;
    } else if (OptionValue(arguments, i, L"--prometheus-file", value)) {
      if (value.empty()) return Usage(L"--prometheus-file takes the path of the file to write");
      prometheusFile = value;
    } else if (OptionValue(arguments, i, L"--max-age-days", value)) {
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

  if (json + prometheus + !prometheusFile.empty() > 1) {
    return Usage(L"--json, --prometheus and --prometheus-file are one output each: choose one");
  }

  const Facts facts = GatherStatusFacts(program, maxAgeDays);
  const Verdict verdict = Judge(facts);
  if (!prometheusFile.empty()) {
    if (const ResultChain written = WritePrometheusFile(prometheusFile, PrometheusText(facts, verdict.level));
        written.Failed()) {
      WriteError(L"kvtool status: cannot write " + prometheusFile + L": " + written.ToText() + L"\n");
      return kUnknown;
    }
    return verdict.level;
  }
  WriteOut(json         ? ToJson(facts, verdict)
           : prometheus ? PrometheusText(facts, verdict.level)
                        : verdict.summary + PerfdataText(facts, std::time(nullptr)) + L"\n" + Details(facts));
  return verdict.level;
}

}  // namespace kv::tool
