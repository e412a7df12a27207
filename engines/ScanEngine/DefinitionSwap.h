// Swapping a verified staging folder in place of the installed definitions, and
// repairing what an interrupted update left behind.
//
// The three folders are siblings on one volume, so each move is a single rename:
//   <current>           the installed set
//   <current>.staging   a set being copied; never trusted, deleted on sight
//   <current>.backup    the previous set while the swap runs
// A swap renames current to backup, staging to current, then deletes backup. Whatever
// point a process dies at, one of the states below holds, and Recover turns it back
// into "current only":
//   current missing, backup present  -> the swap stopped half-way: backup is restored
//   current and backup present       -> the swap finished: backup is deleted, unless
//                                       current is incomplete (a copy of the backup cut
//                                       short) and backup complete: then it is restored
//   staging present                  -> a copy or check stopped: staging is deleted
// A backup that cannot be renamed back, a file inside being held open, is copied back.
#pragma once

#include <string>

#include "foundation/ResultChain.h"

namespace kv::refengine {

struct DefinitionFolders {
  std::wstring current;
  std::wstring staging;
  std::wstring backup;
  // A file held open without sharing while an update runs, so that two updaters (the
  // service and an administrator's run) never work on one destination at once.
  std::wstring lock;
  // The highest version installed so far (HighestVersion.h); never removed.
  std::wstring highest;
  // The installed files' identities (SetIdentity.h).
  std::wstring identities;
  // What a cut transfer wrote, kept for the chunks the next update can take from it
  // (DeltaFetch.h); removed once a set is installed.
  std::wstring partial;

  static DefinitionFolders Beside(const std::wstring& current);
};

// Every rename is tried again for about 10 s while the system answers 5 or 32 (a file
// inside held open); a rename that still fails gives ErrorSwapFilename, then
// DefinitionsInUse for those two codes, then the system's code.

// Brings the folders back to "current only" (or nothing, before the first install).
// When the backup cannot be put back it stays, for the next update to try again.
ResultChain RecoverFolders(const DefinitionFolders& folders);

// Replaces current with staging. When the first rename fails nothing has moved; when the
// second fails the previous set is put back before this returns (or, should both the
// rename and the copy fail, left as the backup that RecoverFolders restores).
ResultChain SwapInStaging(const DefinitionFolders& folders);

}  // namespace kv::refengine
