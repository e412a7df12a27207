// GuardedFolders: the folders whose writers decide what the service loads and where it
// writes as SYSTEM, and the check that nobody untrusted may write in them.
//
// Whoever may write in the program's folder or the engine's can replace the code the
// service runs; whoever may rename the program folder (write in its parent) can put
// another in its place; whoever may make entries beside the definitions or the log can
// plant a link where the service creates its folders and files. So the service loads no
// engine while any of them is open, as sshd refuses a host key with loose permissions.
#pragma once

#include <string>
#include <vector>

#include "foundation/ResultChain.h"

namespace kv {

class IniDocument;

struct GuardedFolder {
  std::wstring path;
  bool creationMatters = true;  // making an entry in it is as bad as writing in it
};

// A configured path as the service running from `programFolder` takes it: anything but
// a drive or UNC path starts from the program's folder.
std::wstring BesideProgram(const std::wstring& programFolder, const std::wstring& value);

// The program's folder, its parent (renaming only), the engine library's folder and the
// parents of the definitions and log folders, from the configuration's "ScanDll" and
// "LogFolder" ([Setting]) and "DefDatFolder" ([AntiVirus]); each folder once.
std::vector<GuardedFolder> GuardedFolders(const std::wstring& programFolder, IniDocument& config);

struct UnsafeFolder {
  std::wstring path;
  std::vector<std::wstring> writers;  // the untrusted principals (GroupAccess names)
};

// The first guarded folder that an untrusted principal may write in (or make entries
// in, where that matters), or whose access list cannot be read, with `unsafe` filled:
// AccessDenied, or the system's error, then InvalidFolder. A folder
// that does not exist is passed over: it is made later inside one that was checked.
ResultChain CheckGuardedFolders(const std::vector<GuardedFolder>& folders, UnsafeFolder& unsafe);

}  // namespace kv
