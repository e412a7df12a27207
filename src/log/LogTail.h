// Reading the monthly log from its end: the newest records first, without reading what
// lies before them. For programs that want the last update or the last next-time record
// of a log that grows all month.
//
// Only reads: every file is opened with full sharing, so the service and other writers
// append, rename and delete as if nobody read.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "foundation/ResultChain.h"

namespace kv {

// One record: an INI section as the log holds it, from its "[" line to the next one.
struct LogRecord {
  std::wstring text;  // decoded from the ANSI code page; its first line is the header
  std::wstring name;  // the section name, "Update_20261208_030012"
  std::wstring file;  // the month file that holds it
};

// Called for each record, newest first; returns false to stop reading.
using LogRecordVisitor = std::function<bool(const LogRecord& record)>;

// The month files of a log folder ("Kv_yyyy_mm.txt"), newest month first. A folder that
// does not exist has none.
std::vector<std::wstring> MonthFilesNewestFirst(const std::wstring& folder);

// Visits the records of one file from its end, reading `blockSize` bytes at a time
// backwards. A record split across blocks is put together before it is visited; a
// record's bytes are decoded only when it is visited. Text before the first section
// header is not a record. FileNotFound when the file does not exist; the system error
// when it cannot be opened or read. `stopped` tells whether the visitor ended it.
ResultChain ReadRecordsBackwards(const std::wstring& path, const LogRecordVisitor& visit, bool& stopped,
                                 std::uint32_t blockSize = 64 * 1024);

// Visits the records of every month file of `folder`, newest first, until the visitor
// stops. A file that disappears while it is read is passed over; any other failure ends
// the reading with that file's chain.
ResultChain ReadLogBackwards(const std::wstring& folder, const LogRecordVisitor& visit);

}  // namespace kv
