// GroupAccess: what the broad well-known groups may do to a file or folder, judged from
// its security descriptor alone.
//
// The groups are those every standard user on the machine belongs to: Users
// (S-1-5-32-545), Authenticated Users (S-1-5-11), Interactive (S-1-5-4) and Everyone
// (S-1-1-0). Accounts and other groups are not judged: the service's own account, or
// an administrator who owns the files, is no risk, whoever it is.
#pragma once

#include <windows.h>

#include <string>

namespace kv {

// One bit per well-known group.
enum BroadGroup : unsigned {
  kGroupUsers = 1u << 0,
  kGroupAuthenticatedUsers = 1u << 1,
  kGroupInteractive = 1u << 2,
  kGroupEveryone = 1u << 3,
};
constexpr unsigned kAllBroadGroups = kGroupUsers | kGroupAuthenticatedUsers | kGroupInteractive | kGroupEveryone;

// For each question, the groups (BroadGroup bits) to which the answer is yes.
struct GroupAccess {
  unsigned read = 0;           // read the data of a file, list a folder
  unsigned write = 0;          // change the data or add entries, delete it or its entries,
                               // or change its access list or owner (and so grant any of it)
  unsigned createFolders = 0;  // make folders in it (append data, for a file)
};

// The access a caller holding the group (and Everyone, which every caller holds) gets
// from `descriptor`, evaluated as the system does: ACEs in order, the first to decide a
// right wins, inherit-only ACEs left out, generic rights mapped as for files. A
// descriptor without an access list grants everything; an owner that is one of the
// groups may change the access list unless an OWNER RIGHTS ACE says otherwise. A null
// descriptor, or one the system cannot read, counts as granting everything.
GroupAccess JudgeGroupAccess(PSECURITY_DESCRIPTOR descriptor);

// "Users, Authenticated Users": the groups of a BroadGroup mask, for messages; only
// "Everyone" when Everyone is among them, since every caller holds it.
std::wstring BroadGroupNames(unsigned groups);

}  // namespace kv
