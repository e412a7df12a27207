// One definition update from a published set to the installed folder.
#pragma once

#include <string>

#include "EngineSettings.h"
#include "StagingCopy.h"
#include "defset/DefinitionManifest.h"
#include "foundation/ResultChain.h"

namespace kv::refengine {

// What the update leaves for the result text.
struct UpdateReport {
  std::wstring source;
  // The set installed when the update ends (empty version when there is none).
  DefinitionManifest installed;
  // What the update moved; known once it has installed a set or found it current.
  StagingCounts counts;
  bool countsKnown = false;
  // Before this moment (UTC text) the server asked to be sent nothing.
  std::wstring notBefore;
};

// Installs the set named by `request` unless the installed one has the same version
// and is intact (or the server says its manifest has not changed). A set is checked
// against its signature whenever a public key is configured, and a set from a web
// server must be signed. A set whose version orders before the highest one installed
// so far is refused (OlderDefinitionVersion). Only files that differ from the installed
// set are fetched.
// Empty on an installation; AlreadyLastestDefinition when nothing had to change;
// otherwise the failure, with the previous set left in place.
ResultChain RunDefinitionUpdate(const UpdateRequest& request, UpdateReport& report);

}  // namespace kv::refengine
