// What the service says in the Application event log, as source "Kestravondalsc": one
// event per thing an administrator acts on, each with an ID that never changes meaning
// once shipped (docs/operating.md lists them). The texts are the message table compiled
// into the program (service/ServiceEvents.mc), in the system's language; these are the
// insertion strings, in the order the messages number them.
#pragma once

#include <initializer_list>
#include <string>

#include "foundation/ResultChain.h"

namespace kv {

enum class ServiceEvent : unsigned {
  DefinitionsInstalled = 1000,  // information: new version, previous version, bytes fetched, source
  UpdateFailed = 1001,          // error: the Result chain as text, its codes in hex, the version in use
  UpdateDeferred = 1002,        // warning: not before (UTC), source, the version in use
  DefinitionsExpired = 1003,    // warning: the version in use, the Result chain as text
  ForeignObjectRefused = 1010,  // error: the object's name, its owner, the Result chain as text
  CleanupRefused = 1011,        // warning: the folder, the Result chain as text
  UnsafeFolder = 1020,          // error: the folder, who may write there, the Result chain as text
  SettingsReadable = 1021,      // warning: the settings file, who may read it, the line that mends it
  EngineNotLoaded = 1030,       // error: the engine's path, the Result chain as text
};

// Writes the event. The source is opened for the one event and closed again, so the
// service holds nothing of the event log while it waits. A log that cannot be written
// (the service runs on regardless) returns the system's error.
ResultChain ReportServiceEvent(ServiceEvent event, std::initializer_list<std::wstring> inserts);

// The codes of a Result chain in hexadecimal, root cause first ("0x7EC10026,0x7EBF0033").
std::wstring ResultCodesHex(const ResultChain& result);

}  // namespace kv
