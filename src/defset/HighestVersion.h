// The highest set version this destination has ever had installed, kept in a file beside
// the definition folder ("<Defs>.highest"), outside it: removing or damaging the
// definitions does not lower it. An update never installs a set whose version orders
// before it (CompareVersions), so whoever keeps an old signed set cannot turn the
// machine's definitions back to it; the same version may be installed again.
//
//   [HighestVersion]
//   Version=2026.12.08.1
//
// The file is only written under the update lock, whole and by rename.
#pragma once

#include <string>

#include "defset/DefinitionManifest.h"
#include "foundation/ResultChain.h"

namespace kv::refengine {

struct HighestVersion {
  enum class State {
    kNone,     // no file: nothing was installed since the record was kept
    kKnown,    // `version` holds the record
    kDamaged,  // a file that cannot be read or holds no version: the record is lost
  };
  State state = State::kNone;
  std::wstring version;
};

HighestVersion ReadHighestVersion(const std::wstring& path);

// Replaces the record with `version`; the system's code when it cannot be written.
ResultChain RecordHighestVersion(const std::wstring& path, const std::wstring& version);

// The lowest version the update may install: the record, raised to the version of the
// installed set (whose manifest still tells what was installed when the record is
// missing, damaged or older than this engine). `floor` is empty when there is none.
// HighestVersionDamaged when the record is damaged and no installed manifest vouches for
// a version: nothing tells how far back a set would go.
ResultChain VersionFloor(const HighestVersion& recorded, const DefinitionManifest* installed, std::wstring& floor);

}  // namespace kv::refengine
