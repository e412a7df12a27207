// Small helpers the commands share: paths as the administrator typed them, the embedded
// configuration of a program file, failures as the service writes them, local times.
#pragma once

#include <string>

#include "foundation/ResultChain.h"
#include "schedule/TimePoint.h"

namespace kv::tool {

// The full path of a path given on the command line, taken relative to the current
// folder (the core's file classes take relative paths from the program's folder, which
// is not what someone typing a path means). Empty text stays empty.
std::wstring FullPathOf(const std::wstring& path);

// The embedded configuration text of a program file built with this tool's key: the
// protected resource decoded to text, each failure as the chain the core reports.
ResultChain ReadProgramConfig(const std::wstring& programPath, std::wstring& text);

// Writes the chain's text form (and a line end) to the error stream and returns 1.
int Fail(const ResultChain& chain);
// Writes "kvtool <command>: <message>" to the error stream and returns `exitCode`.
int Complain(const wchar_t* command, const std::wstring& message, int exitCode);

// "Tuesday 2026-12-08 03:00:00" in local time; "(cannot be shown)" when the moment
// cannot be converted.
std::wstring LocalDateTimeText(const TimePoint& time);

// Every character of `text` a printable one (no control characters, no line ends).
bool IsPrintable(const std::wstring& text);

}  // namespace kv::tool
