// "kvtool settings": how the service reads a settings file "Kestravondal.ini", so that an
// administrator can check one before deploying it:
//   1. the file as the service's INI model reads it (normalised),
//   2. the values the overlay hands to the scan engine (OverlayFileSettings),
//   3. the schedule: the next update time, the interval, whether scheduled updates run,
//      and the polling period of the program's built-in settings.
// The proxy password is never printed.
#include <windows.h>

#include <cwchar>
#include <initializer_list>
#include <string>
#include <vector>

#include "Commands.h"
#include "ConsoleOutput.h"
#include "ToolSupport.h"
#include "config/IniDocument.h"
#include "config/IniText.h"
#include "config/UpdateSettings.h"
#include "foundation/FileStream.h"
#include "foundation/TextEncoding.h"
#include "foundation/TextFormat.h"
#include "protect/EmbeddedConfig.h"
#include "schedule/UpdateSchedule.h"
#include "foundation/FileSystem.h"

namespace kv::tool {

namespace {

constexpr wchar_t kCommand[] = L"settings";
constexpr wchar_t kHidden[] = L"(set, hidden)";
constexpr wchar_t kEmpty[] = L"(empty)";
constexpr std::uint32_t kDefaultIntervalHours = 24;

// The keys of section "Kestravondal" the service reads.
constexpr const wchar_t* kKnownKeys[] = {L"ProxyUser",    L"ProxyPass",  L"IsEnableProxyPass", L"UncPath",
                                         L"OtherUncPath", L"UpdateTime", L"TimeIntervalHour"};

bool IsProxyPassKey(std::wstring key) {
  while (!key.empty() && (key.back() == L' ' || key.back() == L'\t')) key.pop_back();
  std::size_t start = 0;
  while (start < key.size() && (key[start] == L' ' || key[start] == L'\t')) ++start;
  return IniCompare(std::wstring_view(key).substr(start), L"ProxyPass");
}

enum class Encoding { Empty, Utf16, Utf8, Ansi };

// How DecodeText reads these bytes (the same tests, in the same order).
Encoding EncodingOf(const std::string& bytes) {
  const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
  if (bytes.empty()) return Encoding::Empty;
  if (bytes.size() >= 3 && bytes.size() % 2 == 0 && b[0] == 0xFF && b[1] == 0xFE) return Encoding::Utf16;
  if (bytes.size() >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) return Encoding::Utf8;
  return Encoding::Ansi;
}

std::wstring EncodingText(Encoding encoding) {
  // One construction site: GCC 12 warns falsely (free-nonheap-object) about a wide
  // string built from a literal in each branch of a switch.
  const wchar_t* fixed = nullptr;
  switch (encoding) {
    case Encoding::Empty:
      fixed = L"empty file (every value reads as empty or its default)";
      break;
    case Encoding::Utf16:
      fixed = L"UTF-16LE with byte-order mark";
      break;
    case Encoding::Utf8:
      fixed = L"UTF-8 with byte-order mark";
      break;
    case Encoding::Ansi:
      break;
  }
  if (fixed != nullptr) return std::wstring(fixed);
  return FormatText(L"ANSI code page %u (no byte-order mark)", ::GetACP());
}

// Bytes without a mark that hold non-ASCII text and are valid UTF-8: most likely saved
// as UTF-8 without a mark, which the service reads in the ANSI code page instead.
bool LooksLikeUtf8WithoutMark(const std::string& bytes) {
  if (EncodingOf(bytes) != Encoding::Ansi) return false;
  bool high = false;
  for (char c : bytes) high = high || (static_cast<unsigned char>(c) >= 0x80);
  if (!high || ::GetACP() == CP_UTF8) return false;
  std::wstring ignored;
  return !NarrowToWide(bytes.data(), bytes.size(), CP_UTF8, MB_ERR_INVALID_CHARS, ignored).Failed();
}

// A value for display: the proxy password never, empty values said so.
std::wstring Shown(const std::wstring& key, const std::wstring& value) {
  if (value.empty()) return kEmpty;
  return IsProxyPassKey(key) ? std::wstring(kHidden) : value;
}

// The document's text with every proxy password replaced by the placeholder.
std::wstring TextWithoutSecrets(const IniDocument& document) {
  IniDocument copy = document;
  for (const IniSection& section : document.Sections()) {
    for (const auto& [key, value] : section.GetEntries()) {
      if (!value.empty() && IsProxyPassKey(key)) (void)copy.SetString(key, kHidden, section.Name());  // always succeeds
    }
  }
  return copy.ToText();
}

bool SameDay(const std::tm& a, const std::tm& b) {
  return a.tm_year == b.tm_year && a.tm_mon == b.tm_mon && a.tm_mday == b.tm_mday;
}

// "today" or "tomorrow" for the next update time, seen from `now`.
std::wstring DayWord(const TimePoint& next, std::int32_t now) {
  const std::tm today = TimePoint(now).ToLocal();
  const std::tm then = next.ToLocal();
  if (SameDay(today, then)) return L"today";
  const std::tm tomorrow = TimePoint(now + 24 * 3600).ToLocal();
  if (SameDay(tomorrow, then)) return L"tomorrow";
  return {};
}

// The times of day scheduled updates run at, from "UpdateTime" on, as the schedule moves
// it (UpdateSchedule.cpp: hours and minutes read as decimal numbers, wrapped into range,
// the hour moved on by the interval modulo 24 after each update).
std::wstring TimesOfDay(const std::wstring& updateTime, std::uint32_t interval) {
  std::vector<std::wstring> parts = SplitAtAny(updateTime, L":");
  parts.resize(2);
  std::uint32_t hour = TextToNumber(&std::wcstoul, parts[0], 0, 10) % 24u;
  const std::uint32_t minute = TextToNumber(&std::wcstoul, parts[1], 0, 10) % 60u;
  if (interval % 24u == 0) return FormatText(L"every day at %02u:%02u", hour, minute);
  std::wstring text;
  for (int i = 0; i < 6; ++i) {
    text += FormatText(L"%02u:%02u, ", hour, minute);
    hour = (hour + interval) % 24u;
  }
  return text + L"...";
}

// Reads and decodes the file first: LoadIniFile never fails, so a file the service would
// silently take as empty is reported. 0, or the exit code of the complaint.
int ReadSettingsBytes(const std::wstring& path, std::string& bytes) {
  if (::GetFileAttributesW(LongPathForm(path).c_str()) == INVALID_FILE_ATTRIBUTES) {
    // The system's reason ("file not found", "access denied") says more than the
    // runtime's refusal to open.
    const ResultChain missing = KV_MARK(LastErrorChain());
    return Complain(kCommand, L"cannot read " + path + L": " + missing.ToText(), 1);
  }
  {
    FileStream stream;
    ResultChain read = stream.OpenRead(path);
    if (!read.Failed()) read = stream.ReadAll(bytes);
    (void)stream.Close();  // the read's outcome is what counts
    if (read.Failed()) return Complain(kCommand, L"cannot read " + path + L": " + read.ToText(), 1);
  }
  std::wstring decoded;
  if (const ResultChain chain = DecodeText(bytes, decoded); chain.Failed()) {
    return Complain(kCommand, L"cannot decode " + path + L": " + chain.ToText(), 1);
  }
  return 0;
}

// The program's built-in settings, onto which the service lays the file's values (none
// without a program). 0, or the exit code of the complaint.
int ReadBuiltinSettings(const std::wstring& program, IniDocument& builtin) {
  if (program.empty()) return 0;
  const std::wstring text = EmbeddedConfig(program).Text();
  if (text == EmbeddedConfig::kInvalid || text.empty()) {
    std::wstring ignored;
    const ResultChain chain = ReadProgramConfig(program, ignored);
    return Complain(kCommand,
                    L"cannot read the built-in settings of " + program + L": " +
                        (chain.Failed() ? chain.ToText() : std::wstring(L"they are empty")),
                    1);
  }
  (void)builtin.Parse(text);  // always succeeds
  return 0;
}

// Which file was read and how its bytes were decoded.
std::wstring FileHeading(const std::wstring& path, const std::string& bytes) {
  std::wstring out;
  out += L"Settings file: " + path + L"\n";
  out += L"Read as: " + EncodingText(EncodingOf(bytes)) + L"\n";
  if (LooksLikeUtf8WithoutMark(bytes)) {
    out += L"Note: the file looks like UTF-8 without a byte-order mark; the service reads it in the ANSI code page,\n"
           L"      so its non-ASCII characters would be misread. Save it as UTF-8 with a mark or as UTF-16.\n";
  }
  const std::wstring fileName = path.substr(path.find_last_of(L"\\/") + 1);
  if (!IniCompare(fileName, kSettingsFileName)) {
    out += std::wstring(L"Note: the service reads only \"") + kSettingsFileName + L"\" in its program's folder.\n";
  }
  return out;
}

// The keys of the service's section it does not read, or a note that the section is
// missing or empty.
std::wstring SectionNotes(const IniDocument& file) {
  bool hasSection = false;
  for (const IniSection& section : file.Sections()) {
    if (IniCompare(section.Name(), kSettingsSection) && !section.Empty()) hasSection = true;
  }
  if (!hasSection) {
    return std::wstring(L"Note: no values in section [") + kSettingsSection +
           L"]: the service reads only that section, so every value below is empty or its default.\n";
  }
  std::wstring unknown;
  for (const IniSection& section : file.Sections()) {
    if (!IniCompare(section.Name(), kSettingsSection)) continue;
    for (const auto& [key, value] : section.GetEntries()) {
      bool known = false;
      for (const wchar_t* name : kKnownKeys) known = known || IniCompare(key, name);
      if (!known) unknown += (unknown.empty() ? L"" : L", ") + key;
    }
  }
  return unknown.empty() ? std::wstring() : L"Note: keys the service does not read: " + unknown + L"\n";
}

// 1. The file as the service's INI model has it.
std::wstring FileAsRead(const IniDocument& file) {
  std::wstring out = L"\n== The file as the service reads it (normalised; a ProxyPass value is hidden) ==\n";
  std::wstring normalised = TextWithoutSecrets(file);
  // Every section ends in an empty line; the last one's is not needed here.
  if (normalised.size() >= 2 && normalised.compare(normalised.size() - 2, 2, L"\n\n") == 0) normalised.pop_back();
  out += normalised.empty() ? std::wstring(L"(no values)\n") : normalised;
  return out + SectionNotes(file);
}

// 2. What the overlay hands to the scan engine.
std::wstring WhatTheEngineGets(const IniDocument& builtin, IniDocument& file, const std::wstring& program) {
  IniDocument target = builtin;
  (void)OverlayFileSettings(target, file);  // always succeeds
  std::wstring out = L"\n== What the service hands to the scan engine ==\n";
  out += program.empty() ? std::wstring(L"(onto empty settings: give the program to start from its built-in ones)\n")
                         : L"(onto the built-in settings of " + program + L")\n";
  const auto section = [&](const wchar_t* name, std::initializer_list<const wchar_t*> keys) {
    out += std::wstring(L"[") + name + L"]\n";
    for (const wchar_t* key : keys) out += std::wstring(key) + L"=" + Shown(key, target.GetString(key, L"", name)) + L"\n";
  };
  section(L"Setting", {L"ProxyUser", L"ProxyPass", L"IsGuiProxyAuthentication", L"UncPath"});
  section(L"AntiVirus", {L"UpdateUnc", L"UpdateTypeKey"});
  const std::wstring proxyFlag = file.GetString(L"IsEnableProxyPass", L"", kSettingsSection);
  out += L"Note: IsEnableProxyPass=" + Shown(L"IsEnableProxyPass", proxyFlag) +
         FormatText(L" reads as %u", file.GetInt(L"IsEnableProxyPass", 0, 0, kSettingsSection)) +
         L" (a C number; not a number reads as 0), hence IsGuiProxyAuthentication=" +
         target.GetString(L"IsGuiProxyAuthentication", L"", L"Setting") + L"\n";
  return out;
}

// The next update time the service would record, and what stands in its way.
std::wstring NextUpdateText(IniDocument& file, bool scheduled) {
  const std::int32_t now = SystemScheduleClock();
  TimePoint next;
  const ResultChain computed = NextUpdateTimeFor(file, now, next);
  if (computed.Failed()) return L"Next update time: none can be computed: " + computed.ToText() + L"\n";
  const std::wstring day = DayWord(next, now);
  std::wstring out = L"Next update time: " + TimeStamp(next) + L" (" + LocalDateTimeText(next) + L" local time" +
                     (day.empty() ? L"" : L", " + day) + L")" +
                     (scheduled ? L"" : L": recorded by the service, but no scheduled update runs") + L"\n";
  if (next.ToLocal().tm_isdst > 0) {
    out += L"Note: daylight-saving time is in effect; \"UpdateTime\" is standard time, so the update comes an hour\n"
           L"      later by the wall clock\n";
  }
  return out;
}

// How far the time moves on after each update, and how late the service may notice it.
std::wstring IntervalText(IniDocument& builtin, IniDocument& file, const std::wstring& program,
                          const std::wstring& updateTime, bool scheduled) {
  const std::wstring intervalText = file.GetString(L"TimeIntervalHour", L"", kSettingsSection);
  const std::uint32_t interval = TextToNumber(&std::wcstoul, intervalText, kDefaultIntervalHours, 0);
  std::wstring out = FormatText(L"TimeIntervalHour=%u", interval) +
                     (intervalText.empty() ? std::wstring(L" (default)") : L" (from \"" + intervalText + L"\")") +
                     L": after each scheduled update \"UpdateTime\" moves on that many hours, round the clock\n";
  if (scheduled) out += L"Scheduled times of day: " + TimesOfDay(updateTime, interval) + L"\n";
  if (!program.empty()) {
    const std::uint32_t seconds = PollingPeriodSeconds(builtin);
    out += FormatText(L"Polling period: %u seconds (\"TimerElapse\" of the built-in settings): a scheduled update "
                      L"starts up to that long after its time\n",
                      seconds);
  } else {
    out += L"Polling period: give the program to show it (\"TimerElapse\" of its built-in settings; 30 seconds when unset)\n";
  }
  return out;
}

// 3. The schedule.
std::wstring Schedule(IniDocument& builtin, IniDocument& file, const std::wstring& program) {
  std::wstring out = L"\n== The schedule ==\n";
  const std::wstring updateTime = file.GetString(L"UpdateTime", L"", kSettingsSection);
  const bool scheduled = SplitAtAny(updateTime, L":").size() == 2;
  out += L"UpdateTime=" + Shown(L"UpdateTime", updateTime) + L"\n";
  if (scheduled) {
    out += L"Scheduled updates: enabled\n";
  } else {
    out += L"Scheduled updates: disabled: \"UpdateTime\" must be hours:minutes (exactly two parts at \":\"); only\n"
           L"  the update at the service's start and the update on request (control 200) run\n";
  }
  out += NextUpdateText(file, scheduled);
  return out + IntervalText(builtin, file, program, updateTime, scheduled);
}

}  // namespace

int RunSettings(const Arguments& arguments) {
  if (arguments.empty() || arguments.size() > 2 || arguments[0].empty() ||
      (arguments.size() == 2 && arguments[1].empty())) {
    WriteError(L"usage: kvtool settings <path-to-Kestravondal.ini> [<program.exe>]\n");
    return 2;
  }
  const std::wstring path = FullPathOf(arguments[0]);
  const std::wstring program = arguments.size() == 2 ? FullPathOf(arguments[1]) : std::wstring();
  std::string bytes;
  if (const int failed = ReadSettingsBytes(path, bytes); failed != 0) return failed;
  IniDocument builtin;
  if (const int failed = ReadBuiltinSettings(program, builtin); failed != 0) return failed;

  // As the service reads the file (UpdaterEngine::StartupSequence).
  IniDocument file;
  (void)file.SetDefaultSection(kSettingsSection);  // always succeeds
  (void)LoadIniFile(path, file);                   // no file: no values, as for the service

  std::wstring out = FileHeading(path, bytes);
  out += FileAsRead(file);
  out += WhatTheEngineGets(builtin, file, program);
  out += Schedule(builtin, file, program);
  WriteOut(out);
  return 0;
}

}  // namespace kv::tool
