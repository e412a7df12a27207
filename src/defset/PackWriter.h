// What a publisher makes beside a set for the engine's cheaper ways (PackedFetch.h): a
// file as one zstd frame, and a patch from an earlier version of it. Linked into the
// publishing tool and the tests; the engine only decodes and never calls it, so the
// library leaves it (and zstd's compressor) out of ScanEngine.dll.
#pragma once

#include <string>

#include "foundation/ResultChain.h"

namespace kv::refengine {

// The levels of the frames: slow to make once, as cheap to decode as any other. A patch
// gets the strongest, which finds the most of a rewritten file in the earlier one.
inline constexpr int kPackLevel = 19;
inline constexpr int kPatchLevel = 22;

// `bytes` as one frame: long-distance matching, a window of the file's size up to
// 2^kMaxWindowLog. No frame (empty) where it would save less than 2 % of the file:
// data that the fastest level cannot shrink is not given the slow one either.
ResultChain CompressWhole(const std::string& bytes, std::string& frame);

// `to` as one frame that refers back into `from` (its prefix), with a window that covers
// both up to 2^kMaxWindowLog: what changed costs bytes, what moved or stayed almost none.
ResultChain MakePatch(const std::string& from, const std::string& to, std::string& frame);

}  // namespace kv::refengine
