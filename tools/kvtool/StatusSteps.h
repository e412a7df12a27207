// The steps of GatherStatusFacts, each filling in part of the facts: where the program's
// service keeps its files and who may reach them (StatusFiles.cpp), and what its version
// file and log record (StatusRecords.cpp).
#pragma once

#include "StatusFacts.h"

namespace kv::tool {

// Where the program's service keeps its log, version file and engine, from its built-in
// configuration.
void LocateFiles(Facts& facts);

// The folders the service refuses to load its engine from while anyone untrusted may
// write in them (the same check, so the same answer); whoever may read the settings
// file reads its proxy password.
void CheckAccess(Facts& facts);

// "ScannerVersion.ini": INI text in the ANSI code page like the log, read with the same
// reader (full sharing).
void ReadVersionFile(Facts& facts);

// The newest update record and the newest next-time record, and the newest successful
// update unless the version file tells it: every success rewrites that file, so its time
// is the same moment, and a long run of failures need not be read back to its start.
void ReadLog(Facts& facts);

}  // namespace kv::tool
