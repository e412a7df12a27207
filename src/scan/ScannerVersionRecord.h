// What an update leaves behind: its record in the monthly log and "ScannerVersion.ini"
// beside the definition folder.
#pragma once

#include <ctime>
#include <string>

#include "config/IniDocument.h"
#include "foundation/ResultChain.h"

namespace kv {

class MonthlyLog;

// Appends the engine's result as an "Update_yyyymmdd_hhmmss" record with "Result" and
// "TotalTime" to the log. The result document is not changed.
ResultChain WriteUpdateLogRecord(MonthlyLog& log, const IniDocument& result, const ResultChain& update,
                                 unsigned seconds);
// The same with the record's time given (local time of `now`).
ResultChain WriteUpdateLogRecord(MonthlyLog& log, const IniDocument& result, const ResultChain& update,
                                 unsigned seconds, std::time_t now);

// The record's section text for a result document: what WriteUpdateLogRecord appends.
std::wstring UpdateLogRecordText(const IniDocument& result, const ResultChain& update, unsigned seconds,
                                 std::time_t now);

// Replaces "ScannerVersion.ini" in the folder that holds the definition folder with the
// result document plus "DefinitionPath", in the ANSI code page with CR LF line ends.
// The new file is complete before the old one goes, so a failed write never leaves the
// definitions without their version file. Adds "DefinitionPath" to `result`.
ResultChain WriteScannerVersionFile(IniDocument& settings, IniDocument& result);

// The path of "ScannerVersion.ini" for the settings' "DefDatFolder".
std::wstring ScannerVersionFilePath(IniDocument& settings);

// Deletes a file even when it is read-only or a system file; the system error otherwise.
ResultChain DeleteFileForced(const std::wstring& path);

}  // namespace kv
