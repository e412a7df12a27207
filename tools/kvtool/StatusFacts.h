// What "kvtool status" finds out about the service on this machine, before judging it:
// the service control manager's answer, the installed definitions from
// "ScannerVersion.ini", and the last update and next-time records from the end of the
// month's log. It only reads: files are opened with full sharing.
#pragma once

#include <ctime>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "StatusService.h"
#include "StatusStamps.h"
#include "foundation/ResultChain.h"
#include "scan/GuardedFolders.h"

namespace kv::tool {

struct UpdateFacts {
  Stamp time;
  std::wstring result;     // as logged
  std::wstring rootCause;  // the first piece, printed again from its code
  ErrorCode rootCode = 0;
  bool succeeded = false;  // installed a set or found it current
  std::optional<std::uint32_t> totalSeconds;
  std::optional<std::uint64_t> fetchedBytes;  // logged by engines that count what they moved
};

struct NextFacts {
  std::optional<Stamp> time;  // none when the service could not compute it
  std::wstring logged;        // "NextTime" as logged
  std::wstring updateTime;
  bool scheduled = false;  // "UpdateTime" is hours:minutes
};

struct Facts {
  unsigned maxAgeDays = 0;
  ServiceFacts service;
  std::wstring program;
  std::wstring programVersion;
  std::wstring notes;  // what the reader should know about how it was found out
  std::wstring logFolder;
  std::wstring engine;  // the engine library the program's configuration names
  std::wstring versionFile;
  bool versionFileFound = false;
  std::wstring definitionVersion;
  std::wstring definitionDate;
  std::optional<Stamp> versionFileWritten;
  std::optional<UpdateFacts> lastUpdate;
  std::optional<Stamp> lastSuccess;
  bool lastSuccessFromLog = false;
  std::optional<NextFacts> next;
  std::optional<long> ageDays;
  // Who could turn the service against the machine: the first folder the service guards
  // (GuardedFolders) that untrusted principals may write in, and those who may read the
  // settings file when it holds a proxy password.
  std::vector<GuardedFolder> guardedFolders;
  UnsafeFolder unsafeFolder;  // no path: every guarded folder is closed
  std::wstring settingsFile;
  std::vector<std::wstring> passwordReaders;
  // The moment (UTC seconds) a web server asked the engine to send it nothing before,
  // when that is still ahead ("<DefDatFolder>.notbefore").
  std::optional<std::int64_t> notBefore;
  // Until when the installed set's publisher vouches for it (UTC seconds), where its
  // manifest says.
  std::optional<std::int64_t> definitionsExpire;
  std::wstring unreadable;  // set when a file could not be read: the answer is UNKNOWN
};

// Everything the status reports, for the program given (empty: the one the service is
// registered with, or the one beside kvtool).
Facts GatherStatusFacts(const std::wstring& program, unsigned maxAgeDays);

}  // namespace kv::tool
