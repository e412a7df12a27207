// kvtool status: the records and version file of a real service's updates (a success, a
// check that found the set current, an older set refused), laid out by hand in program
// folders that each show one situation, read while that service runs and after it stopped.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "defset/NotBeforeRecord.h"
#include "foundation/ResultChain.h"
#include "foundation/TextEncoding.h"
#include "support/DefinitionSets.h"
#include "support/InstalledService.h"
#include "support/ToolRun.h"
#include "support/WinTestUtil.h"

namespace kv {
namespace {

using test::ToolRun;

using test::Narrow;

std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

// The time of a record as the summary gives it: "hh:mm:ss" today, else with the date.
std::string When(const std::string& record) {
  const std::string stamp = record.substr(record.find('_') + 1, 15);  // yyyymmdd_hhmmss
  const std::string time = stamp.substr(9, 2) + ":" + stamp.substr(11, 2) + ":" + stamp.substr(13, 2);
  if (stamp.substr(0, 8) == test::LocalDate(0, false)) return time;
  return stamp.substr(0, 4) + "-" + stamp.substr(4, 2) + "-" + stamp.substr(6, 2) + " " + time;
}

// The records of a log: each ends with an empty line.
std::vector<std::string> Records(const std::string& log) {
  std::vector<std::string> records;
  for (std::size_t at = 0, end; (end = log.find("\r\n\r\n", at)) != std::string::npos; at = end + 4) {
    records.push_back(log.substr(at, end + 4 - at));
  }
  return records;
}

// The moment of a record's local time stamp, yyyymmdd_hhmmss.
std::time_t Moment(const std::string& record) {
  auto at = [&](int from, int count) { return std::stoi(record.substr(record.find('_') + 1 + from, count)); };
  std::tm t = {at(13, 2), at(11, 2), at(9, 2), at(6, 2), at(4, 2) - 1, at(0, 4) - 1900, 0, 0, -1};
  return std::mktime(&t);
}

// The summary of the plugin line, before its performance data.
std::string FirstLine(const std::wstring& text) {
  const std::string line = Narrow(text.substr(0, text.find(L'\n')));
  return line.substr(0, line.find(" | "));
}

// The performance data of the plugin line, read by the plugin syntax:
// " | 'label'=value[unit];[warn];[crit];[min];[max]", a quote in a label doubled.
struct Perf {
  std::string value, unit, warn, crit, min;
};
std::map<std::string, Perf> PerfdataOf(const std::wstring& text) {
  const std::string line = Narrow(text.substr(0, text.find(L'\n')));
  static const std::regex entry(
      R"( '((?:[^']|'')+)'=(U|-?[0-9]+(?:\.[0-9]+)?)([a-zA-Z%]*);([-0-9.:~@]*);([-0-9.:~@]*);([-0-9.]*)(;[-0-9.]*)?)");
  std::map<std::string, Perf> entries;
  std::string rest = line.substr(std::min(line.size(), line.find(" | ") + 2));
  for (std::smatch m; std::regex_search(rest, m, entry, std::regex_constants::match_continuous); rest = m.suffix()) {
    entries[std::regex_replace(m.str(1), std::regex("''"), "'")] = {m[2], m[3], m[4], m[5], m[6]};
  }
  EXPECT_EQ(rest, "") << "not performance data: " << line;
  return entries;
}

// A program folder: a copy of the program, a month's log and perhaps a version file.
std::wstring Situation(const std::wstring& folder, const std::string& log, const std::string& versionFile) {
  ::CreateDirectoryW(folder.c_str(), nullptr);
  const std::wstring program = folder + L"\\Kestravondalsc.exe";
  EXPECT_TRUE(::CopyFileW((test::ProgramFolder() + L"\\Kestravondalsc.exe").c_str(), program.c_str(), FALSE));
  if (!log.empty()) {
    ::CreateDirectoryW((folder + L"\\log").c_str(), nullptr);
    EXPECT_TRUE(test::WriteFileBytes(folder + L"\\log\\Kv_2026_12.txt", log));
  }
  if (!versionFile.empty()) {
    EXPECT_TRUE(test::WriteFileBytes(folder + L"\\ScannerVersion.ini", versionFile));
  }
  return program;
}

TEST(KvtoolStatus, SituationsOfARealServiceAgainstExitCodeAndSummary) {
  const std::wstring root = test::FreshFolder(L"kv_tools_status");
  const std::wstring source = root + L"\\source";
  test::PublishSigned(source, {L"7.1", Wide(test::LocalDate()), {{L"virus.def", test::Pattern(2000, 9)}}});
  const std::string builtin = test::ReadFileBytes(test::ProgramFolder() + L"\\builtin-config.ini") +
                              "\r\n[ScanEngine]\r\n" + test::TestKeyLine();
  test::InstalledService real(root, L"real", builtin, "[Kestravondal]\r\nOtherUncPath=" + Narrow(source) + "\r\n");
  ASSERT_TRUE(real.Ready());
  ASSERT_TRUE(real.Service().Start());
  ASSERT_TRUE(real.WaitForLog("Result=", 1));
  ASSERT_TRUE(real.RequestUpdate(2));
  // An older set, as a mirror that kept it could serve it: refused, and 7.1 stays.
  test::PublishSigned(source, {L"7.0.9", Wide(test::LocalDate()), {{L"virus.def", test::Pattern(2000, 8)}}});
  ASSERT_TRUE(real.RequestUpdate(3));
  // The start-up writes its next-time record just after starting the first update, so
  // the two may land in either order.
  std::string next;
  std::vector<std::string> updates;
  for (const std::string& record : Records(real.Log())) {
    if (record.rfind("[NextTime_", 0) == 0) {
      next = record;
    } else if (record.rfind("[Update_", 0) == 0) {
      updates.push_back(record);
    }
  }
  ASSERT_FALSE(next.empty()) << real.Log();
  ASSERT_EQ(updates.size(), 3u) << real.Log();
  const std::string &success = updates[0], &current = updates[1], &failure = updates[2];
  ASSERT_NE(success.find("Result=0x0:Success"), std::string::npos) << success;
  ASSERT_NE(current.find("Result=0x32880003:"), std::string::npos) << current;
  const std::string failed = "failed: 0x7EC10030:OlderDefinitionVersion";
  ASSERT_NE(failure.find("Result=0x7EC10030:OlderDefinitionVersion,"), std::string::npos) << failure;
  EXPECT_NE(failure.find("DefinitionVersion=7.1\r\n"), std::string::npos) << failure;
  const std::string versionFile = test::ReadFileBytes(real.Folder() + L"\\ScannerVersion.ini");
  EXPECT_NE(versionFile.find("DefinitionVersion=7.1\r\n"), std::string::npos) << versionFile;
  const std::size_t date = versionFile.find("DefinitionDate=");
  ASSERT_NE(date, std::string::npos) << versionFile;
  auto DatedVersionFile = [&](int ageDays) {
    return std::string(versionFile).replace(date + 15, 10, test::LocalDate(-ageDays));
  };

  struct Row {
    const char* name;
    std::string log;
    int ageDays;  // of the definitions; -1: no version file
    const wchar_t* arguments;
    DWORD exitCode;
    std::string summary;
    std::string notBefore = {};  // the engine's record of a server that asked for time
    std::string manifest = {};   // of the installed set
  };
  // An update the engine held back because the server asked for time.
  std::string deferred = failure;
  deferred.replace(deferred.find("0x7EC10030:OlderDefinitionVersion,"), 34, "0x7EC10027:UpdateDeferred,");
  const std::int64_t until = UtcNow() + 3600;
  const std::string asked = NotBeforeBytes({until, L"http://updates.example/"});
  const std::string untilText = Narrow(UtcText(until));
  const std::string ok = "KESTRAVONDALSC OK - definitions 7.1, 0 days old, last update ";
  const std::string manifest = "[DefinitionSet]\r\nVersion=7.1\r\nExpires=";
  const std::string files = "\r\n[Files]\r\n" + test::FileLine(L"virus.def", "v") + "\r\n";
  const std::string expiredText = Narrow(UtcText(UtcNow() - 60));
  const std::vector<Row> rows = {
      {"fresh install", next + success, 0, L"", 0, ok + When(success) + " Success"},
      {"success, then current", next + success + current, 0, L"", 0, ok + When(current) + " up to date"},
      {"failure after success", next + success + current + failure, 0, L"", 1,
       "KESTRAVONDALSC WARNING - last update failed; definitions 7.1, 0 days old, last update " + When(failure) + " " +
           failed},
      {"stale", next + success, 4, L"", 1,
       "KESTRAVONDALSC WARNING - definitions older than 3 days; definitions 7.1, 4 days old, last update " +
           When(success) + " Success"},
      {"stale twice over", next + success, 7, L"", 2,
       "KESTRAVONDALSC CRITICAL - definitions older than 6 days; definitions 7.1, 7 days old, last update " +
           When(success) + " Success"},
      {"stale, within a longer limit", next + success, 7, L"--max-age-days 7 ", 0,
       "KESTRAVONDALSC OK - definitions 7.1, 7 days old, last update " + When(success) + " Success"},
      {"deferred by the server", next + success + deferred, 0, L"", 1,
       "KESTRAVONDALSC WARNING - updates deferred until " + untilText +
           " as the server asked; definitions 7.1, 0 days old, last update " + When(deferred) +
           " deferred: 0x7EC10027:UpdateDeferred",
       asked},
      {"deferred, definitions stale", next + success + deferred, 4, L"", 1,
       "KESTRAVONDALSC WARNING - definitions older than 3 days, last update failed; definitions 7.1, 4 days old, "
       "last update " +
           When(deferred) + " failed: 0x7EC10027:UpdateDeferred",
       asked},
      {"signed expiry passed, however fresh", next + success, 0, L"", 2,
       "KESTRAVONDALSC CRITICAL - definitions expired " + expiredText + "; definitions 7.1, 0 days old, last update " +
           When(success) + " Success",
       "", manifest + expiredText + files},
      {"signed expiry ahead", next + success, 0, L"", 0, ok + When(success) + " Success", "",
       manifest + Narrow(UtcText(UtcNow() + 86400)) + files},
      {"never updated", next + failure, -1, L"", 2,
       "KESTRAVONDALSC CRITICAL - never updated, last update failed; last update " + When(failure) + " " + failed},
      {"no log yet", "", -1, L"", 2, "KESTRAVONDALSC CRITICAL - never updated; no update in the log"},
  };
  // Prometheus text of every situation, and what it must say, for tools_prometheus to
  // read with a real parser after this suite.
  const std::wstring samples = test::ProgramFolder() + L"\\..\\tools-prometheus";
  test::RemoveTree(samples);
  ASSERT_TRUE(::CreateDirectoryW(samples.c_str(), nullptr));
  auto Sample = [](const char* metric, const std::string& label, const std::string& value) {
    return "kestravondalsc_" + std::string(metric) + "\t" + label + "\t" + value + "\n";
  };
  int number = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::wstring program = Situation(root + L"\\case" + std::to_wstring(++number), row.log,
                                           row.ageDays < 0 ? "" : DatedVersionFile(row.ageDays));
    const std::wstring folder = root + L"\\case" + std::to_wstring(number);
    if (!row.notBefore.empty()) {
      ASSERT_TRUE(test::WriteFileBytes(folder + L"\\defs.notbefore", row.notBefore));
    }
    if (!row.manifest.empty()) {
      ::CreateDirectoryW((folder + L"\\defs").c_str(), nullptr);
      ASSERT_TRUE(test::WriteFileBytes(folder + L"\\defs\\defset.ini", row.manifest));
    }
    const ToolRun run = test::RunKvtool(root, L"status " + std::wstring(row.arguments) + L"\"" + program + L"\"");
    EXPECT_EQ(run.exitCode, row.exitCode) << Narrow(run.out) << Narrow(run.err);
    EXPECT_EQ(FirstLine(run.out), row.summary);

    // The performance data: the age with the thresholds in force, the hours since the last
    // attempt, the bytes it fetched; U where nothing can be known.
    const std::map<std::string, Perf> perf = PerfdataOf(run.out);
    const long limit = 24 * (*row.arguments ? std::stol(Narrow(row.arguments).substr(15)) : 3);
    const std::size_t last = row.log.rfind("[Update_");
    const std::string update = last == std::string::npos ? "" : row.log.substr(last);
    std::smatch bytes;
    const std::string fetched =
        std::regex_search(update, bytes, std::regex("FetchedBytes=([0-9]+)")) ? bytes[1].str() : "";
    ASSERT_EQ(perf.size(), 4u) << Narrow(run.out);
    const Perf& age = perf.at("definitions_age_hours");
    EXPECT_EQ(age.value, row.ageDays < 0 ? "U" : std::to_string(24 * row.ageDays));
    EXPECT_EQ(age.warn + ";" + age.crit + ";" + age.min,
              std::to_string(limit) + ";" + std::to_string(2 * limit) + ";0");
    EXPECT_EQ(perf.at("last_success_age_hours").value == "U", row.ageDays < 0);
    EXPECT_EQ(perf.at("last_update_fetched").value + perf.at("last_update_fetched").unit,
              fetched.empty() ? "U" : fetched + "B");
    const std::string attempt = perf.at("last_attempt_age_hours").value;
    EXPECT_EQ(attempt == "U", update.empty());
    if (!update.empty()) {
      EXPECT_NEAR(std::stod(attempt), std::difftime(std::time(nullptr), Moment(update)) / 3600, 0.02);
    }

    const std::wstring prom = samples + L"\\case" + std::to_wstring(number);
    const ToolRun written = test::RunKvtool(
        root, L"status --prometheus-file \"" + prom + L".prom\" " + row.arguments + L"\"" + program + L"\"");
    EXPECT_EQ(written.exitCode, row.exitCode);
    EXPECT_EQ(Narrow(written.out + written.err), "");
    ASSERT_TRUE(test::WriteFileBytes(
        prom + L".expect",
        Sample("status_exit_code", "-", std::to_string(row.exitCode)) + Sample("service_state", "state=running", "1") +
            Sample("service_state", "state=stopped", "0") +
            Sample("definitions_info", "version=7.1", row.ageDays < 0 ? "absent" : "1") +
            Sample("definitions_age_seconds", "-", row.ageDays < 0 ? "absent" : std::to_string(86400 * row.ageDays)) +
            Sample("last_success_timestamp_seconds", "-", row.ageDays < 0 ? "absent" : "present") +
            Sample("last_attempt_timestamp_seconds", "-", update.empty() ? "absent" : std::to_string(Moment(update))) +
            Sample("last_update_fetched_bytes", "-", fetched.empty() ? "absent" : fetched)));
  }

  // A version with a quote and a backslash, escaped in its label, written over an older
  // file as --prometheus prints it; a file that cannot be written is UNKNOWN.
  std::string quotedVersion = DatedVersionFile(0);
  quotedVersion.replace(quotedVersion.find("DefinitionVersion=7.1") + 18, 3, "7.1 \"beta\" C:\\new");
  const std::wstring quoted = Situation(root + L"\\quoted", next + success, quotedVersion);
  ASSERT_TRUE(test::WriteFileBytes(samples + L"\\quoted.prom", "older text"));
  const ToolRun printed = test::RunKvtool(root, L"status --prometheus \"" + quoted + L"\"");
  EXPECT_EQ(printed.exitCode, 0u);
  const std::wstring quotedFile = L"--prometheus-file=\"" + samples + L"\\quoted.prom\" ";
  EXPECT_EQ(test::RunKvtool(root, L"status " + quotedFile + L"\"" + quoted + L"\"").exitCode, 0u);
  EXPECT_EQ(test::ReadFileBytes(samples + L"\\quoted.prom"), Narrow(printed.out));
  ASSERT_TRUE(test::WriteFileBytes(samples + L"\\quoted.expect",
                                   Sample("definitions_info", "version=7.1 \"beta\" C:\\new", "1")));
  const ToolRun refused =
      test::RunKvtool(root, L"status --prometheus-file \"" + root + L"\\none\\x.prom\" \"" + quoted + L"\"");
  EXPECT_EQ(refused.exitCode, 3u);
  EXPECT_NE(refused.err.find(L"cannot write " + root + L"\\none\\x.prom: "), std::wstring::npos) << Narrow(refused.err);
  WIN32_FIND_DATAW left{};
  const HANDLE temporary = ::FindFirstFileW((samples + L"\\*.tmp").c_str(), &left);
  EXPECT_EQ(temporary, INVALID_HANDLE_VALUE) << Narrow(left.cFileName);
  if (temporary != INVALID_HANDLE_VALUE) ::FindClose(temporary);

  // The same facts for a program: the failure's.
  const ToolRun json = test::RunKvtool(root, L"status --json \"" + root + L"\\case3\\Kestravondalsc.exe\"");
  EXPECT_EQ(json.exitCode, 1u);
  for (const char* part :
       {"\"status\":\"WARNING\"", "\"exitCode\":1", "\"state\":\"running\"", "\"version\":\"7.1\"", "\"ageDays\":0",
        "\"succeeded\":false", "\"rootCause\":\"0x7EC10030:OlderDefinitionVersion\"",
        "\"problems\":[\"last update failed\"]"}) {
    EXPECT_NE(Narrow(json.out).find(part), std::string::npos) << part << "\n" << Narrow(json.out);
  }

  // Who could turn the service: a program folder Everyone may write in, a proxy
  // password Everyone may read.
  const std::wstring open = Situation(root + L"\\open", next + success, DatedVersionFile(0));
  ASSERT_TRUE(test::WriteFileBytes(root + L"\\open\\Kestravondal.ini", "[Kestravondal]\r\nProxyPass=x\r\n"));
  const bool exposed = test::LetEveryone(root + L"\\open\\Kestravondal.ini", false) &&
                       test::LetEveryone(root + L"\\open", true);
  EXPECT_TRUE(exposed);
  if (exposed) {
    const ToolRun run = test::RunKvtool(root, L"status \"" + open + L"\"");
    EXPECT_EQ(run.exitCode, 2u);
    EXPECT_EQ(FirstLine(run.out), "KESTRAVONDALSC CRITICAL - folder " + Narrow(root) +
                                      "\\open writable by Everyone, ProxyPass readable by Everyone; " + ok.substr(20) +
                                      When(success) + " Success");
    EXPECT_NE(Narrow(run.out).find("icacls \"" + Narrow(root) + "\\open\\Kestravondal.ini\" /inheritance:r "),
              std::string::npos)
        << Narrow(run.out);
  }

  // A version file that cannot be read: nothing can be said.
  const std::wstring unreadable = Situation(root + L"\\unreadable", next + success, "");
  ASSERT_TRUE(::CreateDirectoryW((root + L"\\unreadable\\ScannerVersion.ini").c_str(), nullptr));
  const ToolRun unknown = test::RunKvtool(root, L"status \"" + unreadable + L"\"");
  EXPECT_EQ(unknown.exitCode, 3u);
  EXPECT_EQ(FirstLine(unknown.out).rfind("KESTRAVONDALSC UNKNOWN - cannot read " + Narrow(root) + "\\unreadable\\", 0),
            0u)
      << Narrow(unknown.out);

  ASSERT_TRUE(real.Service().StopAndWait());
  const ToolRun stopped = test::RunKvtool(root, L"status \"" + root + L"\\case1\\Kestravondalsc.exe\"");
  EXPECT_EQ(stopped.exitCode, 2u);
  EXPECT_EQ(FirstLine(stopped.out),
            "KESTRAVONDALSC CRITICAL - service stopped; definitions 7.1, 0 days old, last update " + When(success) +
                " Success");
  const std::wstring stoppedFile = L"--prometheus-file \"" + samples + L"\\stopped.prom\" \"" + root;
  EXPECT_EQ(test::RunKvtool(root, L"status " + stoppedFile + L"\\case1\\Kestravondalsc.exe\"").exitCode, 2u);
  ASSERT_TRUE(test::WriteFileBytes(samples + L"\\stopped.expect", Sample("service_state", "state=stopped", "1")));
  EXPECT_EQ(test::RunKvtool(root, L"status --max-age-days 0").exitCode, 3u);
  EXPECT_EQ(test::RunKvtool(root, L"status --json --prometheus").exitCode, 3u);
  test::RemoveTree(root);
}

TEST(CodePage932KvtoolStatus, ReadsAJapaneseLog) {
  const std::wstring folder = test::FreshFolder(L"kv_tools_status_ja");
  const std::wstring today = Wide(test::LocalDate(0, false));
  const std::wstring log = L"[NextTime_" + today + L"_000001]\r\n;\u8D77\u52D5\u6642\u8A2D\u5B9A\r\nNextTime=" + today +
                           L"_030000\r\nUpdateTime=03:00\r\n\r\n[Update_" + today +
                           L"_000002]\r\nResult=0x2:\u30D5\u30A1\u30A4\u30EB\u304C\u898B\u3064\u304B\u308A\u307E"
                           L"\u305B\u3093\u3002,Line(40),\r\nTotalTime=0\r\n\r\n";
  const std::wstring version = L"[ScannerVersion]\r\nDefinitionDate=" + Wide(test::LocalDate()) +
                               L"\r\nDefinitionVersion=\u5B9A\u7FA92026\r\n\r\n";
  const std::wstring program = Situation(folder, Narrow(log, CP_ACP), Narrow(version, CP_ACP));
  const ToolRun run = test::RunKvtool(folder, L"status \"" + program + L"\"");
  std::wstring root = ResultChain(2).ToText();
  root.pop_back();
  EXPECT_EQ(
      run.out.substr(0, run.out.find(L" | ")),
      L"KESTRAVONDALSC CRITICAL - service not installed, last update failed; definitions \u5B9A\u7FA92026, 0 days "
      L"old, last update 00:00:02 failed: " +
          root);
  EXPECT_NE(run.out.find(L"(UpdateTime=03:00)"), std::wstring::npos) << Narrow(run.out);
  test::RemoveTree(folder);
}

}  // namespace
}  // namespace kv
