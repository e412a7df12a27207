// MonthlyLog: the service's record of what it did, one text file per calendar month.
//
// Entries are appended whole: in-process writers are serialised by a critical section,
// and every program that writes the same files by the named mutex below. Entries are
// stored in the ANSI code page with CR LF line breaks, without any framing of their own.
//
// A mutex of that name made first by someone the service does not trust is not used:
// the log then keeps its entries apart by its critical section alone, since a lock that
// another user holds or controls would silence it.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "foundation/ResultChain.h"
#include "kernel/CriticalSection.h"
#include "kernel/HandleHolder.h"
#include "kernel/NamedObject.h"

namespace kv {

class IniDocument;
class TimePoint;

// The fields of a record, in order: "Key=value" lines.
using RecordFields = std::vector<std::pair<std::wstring, std::wstring>>;

// The mutex that every program writing the monthly log files takes around an append.
inline constexpr wchar_t kLogMutexName[] = L"SulvaneLog_92B41523_6CCE_4409_AD5A_619E4E0D64BF";

// Its access list: SYSTEM and Administrators only. Waiting on a mutex is taking it, so
// anyone else allowed to wait could hold it and make every entry of the service wait
// and drop; the log files are written by privileged programs only anyway.
inline constexpr wchar_t kLogMutexAccess[] = L"D:P(A;;0x1F0001;;;SY)(A;;0x1F0001;;;BA)";

// Where the log learns the local date and time that picks the month's file.
using LocalClock = std::function<SYSTEMTIME()>;

// The system's local time.
SYSTEMTIME CurrentLocalTime();

class MonthlyLog {
 public:
  // Opens (creating it when needed) the named mutex, refusing a foreign one. `clock`
  // defaults to the real one.
  explicit MonthlyLog(LocalClock clock = {});
  ~MonthlyLog() = default;
  MonthlyLog(const MonthlyLog&) = delete;
  MonthlyLog& operator=(const MonthlyLog&) = delete;

  // Appends one entry to the current month's file. FileNotFound when no folder is set;
  // every other failure skips the entry silently (the file keeps what it held).
  ResultChain Write(const std::wstring& entry);

  // Sets the log folder: relative texts are taken beside the program, missing folders
  // are created. An empty text leaves the log without folder (success); a folder that
  // does not exist afterwards gives InvalidLogPath and leaves it without folder too.
  ResultChain SetFolder(const std::wstring& folder);

  // Appends a next-time record: "[NextTime_<now>]", the comment line when there is one,
  // "NextTime=<next>", "UpdateTime=" with the update settings' value, an empty line.
  // FileNotFound when no folder is set. `now` defaults to the current time.
  ResultChain WriteNextTime(IniDocument& updateSettings, const TimePoint& next, const std::wstring& comment);
  ResultChain WriteNextTime(IniDocument& updateSettings, const TimePoint& next, const std::wstring& comment,
                            const TimePoint& now);

  // Appends the record of a named object that was refused (ForeignObjectRecordText).
  ResultChain WriteForeignObject(const ForeignObject& refused);

  // Appends a record of `kind` with `fields` at the current time (RecordText).
  ResultChain WriteRecord(const std::wstring& kind, const RecordFields& fields);

  // The log mutex as found at construction: its result is empty unless the name was
  // taken by a foreign object, which the log then does without.
  const ForeignObject& ForeignMutex() const { return foreignMutex_; }

  // The absolute folder without trailing separator, or empty.
  const std::wstring& Folder() const { return folder_; }

  // The month's file for a local time: "<folder>\Kv_<yyyy>_<mm>.txt".
  std::wstring MonthFile(const SYSTEMTIME& localTime) const;

  static const wchar_t* MutexName() { return kLogMutexName; }

 private:
  std::wstring folder_;
  // Keeps the shared mutex, with its access list, in being; each write locks it through a
  // handle of its own, never through this one.
  HandleHolder mutex_;
  ForeignObject foreignMutex_;
  CriticalSection writeLock_;
  LocalClock clock_;
};

// The text of a next-time record (see MonthlyLog::WriteNextTime), for a writer that
// builds it under a lock of its own and writes it after leaving that lock.
std::wstring NextTimeRecordText(IniDocument& updateSettings, const TimePoint& next, const std::wstring& comment,
                                const TimePoint& now);

// The record of a refused named object: "[ForeignObject_<now>]", "Name=", "Owner=" (the
// SID, empty when unknown), "Result=" with the refusal's chain, "Instead=" with what the
// service uses in its place, an empty line.
std::wstring ForeignObjectRecordText(const ForeignObject& refused, const TimePoint& now);

// "[<kind>_<now>]", one "Key=value" line per field, an empty line.
std::wstring RecordText(const std::wstring& kind, const RecordFields& fields, const TimePoint& now);

// LF and CR LF become CR LF; a lone CR stays.
std::wstring NormalizeLineBreaks(const std::wstring& text);

}  // namespace kv
