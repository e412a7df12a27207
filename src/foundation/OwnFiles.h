// OwnFiles: the one place that creates and opens the files and folders the service and
// the engine write as SYSTEM.
//
// Every creation carries a protected access list of its own instead of inheriting the
// folder's: SYSTEM and Administrators full control, and Users read only where other
// programs must read it (the log, "ScannerVersion.ini", the definitions). And nothing is
// written through a link somebody else planted: every open takes the entry itself
// (FILE_FLAG_OPEN_REPARSE_POINT) and refuses it when it is a reparse point (junction,
// symbolic link, mount point) whose owner is not trusted (GroupAccess): written through,
// it would create, truncate or delete any file on the machine as SYSTEM. A link an
// administrator made (a log folder moved to another drive) is followed as before.
#pragma once

#include <windows.h>

#include <string>

#include "foundation/ResultChain.h"

namespace kv {

// ERROR_STOPPED_ON_SYMLINK ("The create operation stopped after reaching a symbolic
// link"), which this toolchain's headers lack: the answer for a refused link.
inline constexpr DWORD kStoppedOnLink = 681;

// Who besides SYSTEM and Administrators may read what is created.
enum class Readers { Nobody, Users };

// The SDDL every creation passes: "D:P(A;;FA;;;SY)(A;;FA;;;BA)", with Users read (and,
// for a folder, list and traverse, inherited by what is made in it) for Readers::Users.
std::wstring CreationSddl(Readers readers, bool folder);

// CreateFileW for writing with the creation's list and the link rule: the handle, or
// INVALID_HANDLE_VALUE with the thread's last error set (kStoppedOnLink for a
// refused link). `flags` are CreateFileW's; FILE_FLAG_OPEN_REPARSE_POINT is added.
HANDLE OpenForWriting(const std::wstring& path, DWORD access, DWORD share, DWORD disposition, DWORD flags,
                      Readers readers);

// Makes the folder at `path` with the creation's list; an existing one is accepted, unless
// `mustBeNew`, when it is a folder and no foreign link. The system's error
// (kStoppedOnLink for a refused link) with a line marker.
ResultChain CreateOwnFolder(const std::wstring& path, Readers readers, bool mustBeNew = false);

// Whether the entry at `path` is a folder (ERROR_DIRECTORY if not) and no foreign link
// (kStoppedOnLink), with a line marker.
ResultChain CheckOwnFolder(const std::wstring& path);

// kStoppedOnLink when the open entry is a reparse point whose owner is not
// trusted, or when that cannot be told; empty otherwise.
ResultChain RefuseForeignLink(HANDLE entry);

// ERROR_INVALID_OWNER when the open entry's owner is not trusted, or cannot be read.
ResultChain RefuseForeignOwner(HANDLE entry);

}  // namespace kv
