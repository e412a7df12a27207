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
// The same with the record's time given (local time of `now`), and, when `cleanup` is
// not empty, why the clean-up of old program folders was refused, as "Cleanup".
ResultChain WriteUpdateLogRecord(MonthlyLog& log, const IniDocument& result, const ResultChain& update,
                                 unsigned seconds, std::time_t now, const ResultChain& cleanup = {});

// The record's section text for a result document: what WriteUpdateLogRecord appends.
std::wstring UpdateLogRecordText(const IniDocument& result, const ResultChain& update, unsigned seconds,
                                 std::time_t now, const ResultChain& cleanup = {});

// Replaces "ScannerVersion.ini" in the folder that holds the definition folder with the
// result document plus "DefinitionPath", in the ANSI code page with CR LF line ends.
// The new file is written completely and then renamed over the old one in one step, so
// every failure leaves the old file as it was. InvalidFolder, and nothing written, when
// "DefDatFolder" is empty. Adds "DefinitionPath" to `result`.
ResultChain WriteScannerVersionFile(IniDocument& settings, IniDocument& result);

// The log record of a version file that could not be written: section
// "VersionFile_yyyymmdd_hhmmss" with the "File" and the failure's "Result".
std::wstring VersionFileFailureText(const std::wstring& file, const ResultChain& failure, std::time_t now);

// Clears the read-only, system and hidden attributes, which would refuse a replacement.
void ClearProtectiveAttributes(const std::wstring& path);

// The path of "ScannerVersion.ini" for the settings' "DefDatFolder"; empty when that
// is empty.
std::wstring ScannerVersionFilePath(IniDocument& settings);

// Deletes a file even when it is read-only or a system file; the system error otherwise.
ResultChain DeleteFileForced(const std::wstring& path);

}  // namespace kv
