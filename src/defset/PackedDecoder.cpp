#include "defset/PackedDecoder.h"

// The stable output buffer is an experimental parameter of the library's stable API.
#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>

#include "defset/EngineCodes.h"

namespace kv::refengine {

PackedDecoder::PackedDecoder() : context_(ZSTD_createDCtx()) {}

PackedDecoder::~PackedDecoder() { ZSTD_freeDCtx(context_); }

ResultChain PackedDecoder::Start(char* out, std::size_t size, const char* reference, std::size_t referenceSize) {
  out_ = out;
  size_ = size;
  produced_ = 0;
  frameEnded_ = false;
  if (context_ == nullptr) return KV_MARK(PackedObjectInvalid);
  ZSTD_DCtx_reset(context_, ZSTD_reset_session_and_parameters);
  if (ZSTD_isError(ZSTD_DCtx_setParameter(context_, ZSTD_d_windowLogMax, kMaxWindowLog)) ||
      ZSTD_isError(ZSTD_DCtx_setParameter(context_, ZSTD_d_stableOutBuffer, 1)) ||
      (reference != nullptr && ZSTD_isError(ZSTD_DCtx_refPrefix(context_, reference, referenceSize)))) {
    return KV_MARK(PackedObjectInvalid);
  }
  return {};
}

ResultChain PackedDecoder::Feed(const char* data, std::size_t size) {
  ZSTD_inBuffer in{data, size, 0};
  while (in.pos < in.size) {
    // Bytes after the one frame: a second frame would decode past what was checked.
    if (frameEnded_) return KV_MARK(PackedObjectInvalid);
    // The same buffer at every call, as the stable output buffer requires; the decoder
    // stops with an error where the frame would need more room than `size`.
    ZSTD_outBuffer out{out_, size_, produced_};
    const std::size_t taken = in.pos;
    const std::size_t left = ZSTD_decompressStream(context_, &out, &in);
    if (ZSTD_isError(left)) return KV_MARK(PackedObjectInvalid);
    const bool progressed = out.pos != produced_ || in.pos != taken;
    produced_ = out.pos;
    frameEnded_ = left == 0;
    // Stuck with input left: the frame wants more room than the file's size.
    if (!progressed && !frameEnded_) return KV_MARK(PackedObjectInvalid);
  }
  return {};
}

ResultChain PackedDecoder::Finish() const {
  if (!frameEnded_ || produced_ != size_) return KV_MARK(PackedObjectInvalid);
  return {};
}

}  // namespace kv::refengine
