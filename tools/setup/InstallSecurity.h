// The access lists the package's custom actions give to what they make: the service's
// own list in the service control manager, and the settings file's.
#pragma once

#include <windows.h>

#include <string>

#include "foundation/ResultChain.h"

namespace kv::setup {

// SYSTEM and Administrators: everything. Interactive and authenticated users: they may
// read its configuration and status, list its dependents and interrogate it, nothing
// more. In particular no user-defined control: control 200 starts a clean-up and an
// update as SYSTEM, which is for administrators to ask for.
//   CC query configuration  DC change configuration  LC query status  SW enumerate
//   dependents  RP start  WP stop  DT pause  LO interrogate  CR user-defined control
//   SD delete  RC read the list  WD change the list  WO change the owner
inline constexpr wchar_t kServiceSddl[] =
    L"D:(A;;CCDCLCSWRPWPDTLOCRSDRCWDWO;;;SY)(A;;CCDCLCSWRPWPDTLOCRSDRCWDWO;;;BA)"
    L"(A;;CCLCSWLORC;;;IU)(A;;CCLCSWLORC;;;AU)";

// "Kestravondal.ini" may hold the proxy password in clear text: SYSTEM and
// Administrators only, and protected, so that nothing of the folder's list (which under
// a drive's root lets every user read) is inherited.
inline constexpr wchar_t kSettingsFileSddl[] = L"D:P(A;;FA;;;SY)(A;;FA;;;BA)";

// The program folder, wherever the administrator put it: SYSTEM and Administrators
// everything, Users read and run, protected so that nothing of a drive root's list
// ("Authenticated Users: Modify") is inherited. The service refuses to load its engine
// from a folder others may write in.
inline constexpr wchar_t kProgramFolderSddl[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

// The privileges the service keeps of LocalSystem's, as a double-null-terminated list:
// traversing folders it may not list is all it needs. It asks for no other privilege
// anywhere, and neither do WinHTTP and the engine's file work on its behalf.
inline constexpr wchar_t kRequiredPrivileges[] = L"SeChangeNotifyPrivilege\0";

// Gives the folder at `path` the access list `sddl` (its protection flag included). The
// system error, with a line marker, when the text is no descriptor or the list cannot
// be set.
ResultChain SecureFolder(const std::wstring& path, const std::wstring& sddl);

// Gives the installed service `name` the access list `sddl`. The system error, with a
// line marker, when the text is no descriptor, the service cannot be opened for that,
// or the service control manager refuses the list.
ResultChain SecureService(const wchar_t* name, const std::wstring& sddl);

}  // namespace kv::setup
