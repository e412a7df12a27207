// Decoding a published zstd frame, a compressed copy of a file or a patch against an
// earlier version of it, into memory the caller owns, with bounds that no frame can talk
// the decoder out of.
#pragma once

#include <cstddef>

#include "foundation/ResultChain.h"

struct ZSTD_DCtx_s;

namespace kv::refengine {

// The largest window a frame may ask for: 2^27 bytes (128 MiB), as "zstd --long=27"
// makes them. Part of the published format.
inline constexpr int kMaxWindowLog = 27;

class PackedDecoder {
 public:
  PackedDecoder();
  ~PackedDecoder();
  PackedDecoder(const PackedDecoder&) = delete;
  PackedDecoder& operator=(const PackedDecoder&) = delete;

  // Decodes into `out`, which receives exactly `size` bytes: the decoder keeps no window
  // of its own but reads back what it wrote there, so memory stays that of its tables
  // whatever window the frame names. `reference` (nullptr: none) is the earlier file a
  // patch starts from; it must stay readable until the last Feed.
  ResultChain Start(char* out, std::size_t size, const char* reference, std::size_t referenceSize);
  // Takes the next bytes of the frame. More output than `size`, a window above
  // kMaxWindowLog, damaged data or bytes after the frame fail with PackedObjectInvalid.
  ResultChain Feed(const char* data, std::size_t size);
  // PackedObjectInvalid unless one whole frame came, and exactly `size` bytes out of it.
  ResultChain Finish() const;
  std::size_t Produced() const { return produced_; }

 private:
  ZSTD_DCtx_s* context_ = nullptr;
  char* out_ = nullptr;
  std::size_t size_ = 0;
  std::size_t produced_ = 0;
  bool frameEnded_ = false;
};

}  // namespace kv::refengine
