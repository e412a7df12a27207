// GroupAccess: who, besides the principals trusted with the service's files, may do what
// to a file or folder, judged from its security descriptor alone.
//
// Trust is a short list: SYSTEM, Administrators, TrustedInstaller, the service's own SID
// ("NT SERVICE\Kestravondalsc"), and the account of the judging process when it is
// SYSTEM or an administrator (it could change the folder anyway; this is also the
// account that owns every file Wine shows). Every other principal that the list grants
// a right counts: a user who owns the folder or holds an entry, LOCAL, SERVICE, the
// service accounts, app containers, domain groups. So does any entry of a type the
// judge does not read (callback, object, compound entries): it may grant anything.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "foundation/ResultChain.h"

namespace kv {

// For each question, the principals other than the trusted ones to which the answer is
// yes, by name ("Users", "S-1-5-21-…", "an entry of type 0x9"), in the list's order.
struct GroupAccess {
  std::vector<std::wstring> read;           // read the data of a file, list a folder
  std::vector<std::wstring> write;          // change the data or add entries, delete it or its
                                            // entries, or change its access list or owner
  std::vector<std::wstring> createFolders;  // make folders in it (append data, for a file)
};

// The access each untrusted principal named in `descriptor` gets, as a caller holding it
// and Everyone: ACEs in order, the first to decide a right wins, inherit-only ACEs left
// out, generic rights mapped as for files. An owner may read and change the access list
// unless an OWNER RIGHTS ACE says otherwise. A descriptor without an access list, a null
// descriptor or one the system cannot read grants everything to Everyone.
// `trusted` holds SID texts.
GroupAccess JudgeGroupAccess(PSECURITY_DESCRIPTOR descriptor, const std::vector<std::wstring>& trusted);
// The same with the trusted principals of this process (TrustedPrincipals).
GroupAccess JudgeGroupAccess(PSECURITY_DESCRIPTOR descriptor);

// The SID texts trusted here, worked out once per process.
const std::vector<std::wstring>& TrustedPrincipals();

// The SID the system gives a service of that name ("S-1-5-80-…", from the SHA-1 of the
// name in capitals); empty when the hash cannot be made.
std::wstring ServiceSidText(const std::wstring& serviceName);

// The SID's text ("S-1-5-18"), or empty.
std::wstring SidText(PSID sid);

// Whether the SID text is one of TrustedPrincipals.
bool IsTrusted(const std::wstring& sidText);

// "Users, S-1-5-21-…": names for messages; only "Everyone" when Everyone is among them,
// since every caller holds it.
std::wstring PrincipalNames(const std::vector<std::wstring>& names);

// JudgeGroupAccess for the file or folder at `path`, its descriptor read through a
// handle to it. The system's error when its access list cannot be read.
ResultChain JudgeFileAccess(const std::wstring& path, GroupAccess& access);

}  // namespace kv
