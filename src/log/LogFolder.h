// The log folder on disk and the service's stop event.
#pragma once

#include <windows.h>

#include <string>

#include "foundation/ResultChain.h"
#include "kernel/HandleHolder.h"
#include "kernel/NamedObject.h"

namespace kv {

// The file-system calls CreateFolders makes, replaceable so that the candidate paths it
// tries can be observed (a UNC share cannot be made on a test machine).
class FolderCalls {
 public:
  virtual ~FolderCalls() = default;
  // GetFileAttributesW; on failure INVALID_FILE_ATTRIBUTES with the system error in `error`.
  virtual DWORD Attributes(const std::wstring& path, DWORD& error);
  // CreateDirectoryW without security attributes.
  virtual bool CreateFolder(const std::wstring& path);
};

// Creates every missing folder of `path`, each through the "\\?\" long-path form unless
// the path is UNC. With `lastMayBeFile`, a last component holding a "." is taken for a
// file name and not created. InvalidPath for fewer than two components,
// CannotCreateFolder when a folder cannot be made. An existing path succeeds at once.
ResultChain CreateFolders(const std::wstring& path, bool lastMayBeFile);
ResultChain CreateFolders(const std::wstring& path, bool lastMayBeFile, FolderCalls& calls);

// "EventStopEvent_" followed by the instance suffix.
std::wstring StopEventName();

// Creates (or opens, when it exists and is the service's) the manual-reset stop event,
// not signalled, into `holder`, closing what the holder held before. A name taken by a
// foreign object gives an unnamed event instead, and `refused` says what was found
// (CreateServiceEvent). A failure leaves the holder empty.
ResultChain CreateStopEvent(HandleHolder& holder, ForeignObject& refused);

}  // namespace kv
