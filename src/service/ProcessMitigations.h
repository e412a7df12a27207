// ProcessMitigations: what the service asks the system to refuse in its own process,
// which runs as SYSTEM and loads an outside engine: images from the network or with a
// low integrity label, legacy extension points (AppInit DLLs, window hooks, layered
// network providers) that would put others' code in it, use of invalid handles, and a
// heap that goes on after corruption.
#pragma once

#include <string>
#include <vector>

namespace kv {

// Turns the mitigations on and reads back what the system can say. Systems too old for
// one, or that accept one without applying it, leave it off; the service goes on.
void ApplyProcessMitigations();

// The names of the mitigations not in effect after ApplyProcessMitigations, in a fixed
// order ("ImageLoad", "ExtensionPoints", "StrictHandles", "HeapTermination"); empty
// when all are on.
const std::vector<std::wstring>& MitigationsNotInEffect();

}  // namespace kv
