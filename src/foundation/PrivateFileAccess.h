// The access list of a file that holds a secret: its maker and the administrators may
// open it, nobody else, and nothing is inherited from the folder it is in.
#pragma once

#include <string>

namespace kv {

// SDDL owned by `ownerSid` ("S-1-5-21-…") granting it and Administrators full control,
// protected from inheritance.
std::wstring PrivateFileSddl(const std::wstring& ownerSid);

// The icacls command line that gives the file at `path` such a list for the service:
// SYSTEM and Administrators full control, the broad groups' rights and the inherited
// ones removed.
std::wstring PrivateFileIcaclsLine(const std::wstring& path);

}  // namespace kv
