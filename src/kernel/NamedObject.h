// A named kernel object that other programs share with the service, created with an
// access list of the service's own, and refused when someone else made it first.
//
// Named objects live in a namespace that every logged-on user can create in. Whoever
// creates a name first decides its access list, so an object that already exists is
// used only when its owner is SYSTEM, the Administrators group or this process's own
// account; anything else could be set or held by a user to steer the service.
#pragma once

#include <windows.h>

#include <string>

#include "foundation/ResultChain.h"
#include "kernel/HandleHolder.h"

namespace kv {

enum class NamedObjectType {
  Mutex,  // not initially owned
  Event,  // manual reset, not signalled
};

// What a refused object leaves behind for the record of it.
struct ForeignObject {
  NamedObjectType type = NamedObjectType::Event;
  std::wstring name;
  // The owner as SID text ("S-1-5-32-545"); empty when it could not be read.
  std::wstring owner;
  // AlreadyMaked (and the system error when the object could not even be opened), with
  // line markers.
  ResultChain result;
};

// The access list of the service's events: SYSTEM and Administrators full control,
// everyone logged on may wait for them but never set or reset them.
inline constexpr wchar_t kServiceEventAccess[] =
    L"D:P(A;;0x1F0003;;;SY)(A;;0x1F0003;;;BA)(A;;0x100000;;;AU)";

// Closes what `holder` held, then creates the object `name` with the access list `dacl`
// (SDDL, "D:…" without owner; the owner is this process's user) or opens it when it
// exists and its owner is trusted. A name taken by a foreign owner, by an object this
// process may not open, or by an object of another type gives AlreadyMaked: the holder
// stays empty and `refused` (when given) says what was found. Other failures give the
// system error; an empty name gives InvalidArgument.
ResultChain CreateNamedObject(NamedObjectType type, const std::wstring& name, const std::wstring& dacl,
                              HandleHolder& holder, ForeignObject* refused = nullptr);

// True for the outcome of a refused object (the caller falls back to one of its own).
bool IsForeignObject(const ResultChain& result);

// A named event of the service (kServiceEventAccess) in `holder`; when the name is taken
// by a foreign object, an unnamed event of the service's own instead, so that its stop
// checks and signals still work, and `refused` tells what was found (its result empty
// when the name was used).
ResultChain CreateServiceEvent(const std::wstring& name, HandleHolder& holder, ForeignObject& refused);

// This process's user as SID text; empty when the token cannot be read.
std::wstring ProcessUserSid();

}  // namespace kv
