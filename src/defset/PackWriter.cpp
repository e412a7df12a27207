#include "defset/PackWriter.h"

#include <zstd.h>

#include <algorithm>
#include <cstdint>

#include "defset/EngineCodes.h"
#include "defset/PackedDecoder.h"

namespace kv::refengine {

namespace {

// A copy must save at least 1/kMinSaving of the file (2 %) to be worth publishing.
constexpr std::size_t kMinSaving = 50;

// The smallest window that holds `size` bytes, within what the engine decodes.
int WindowLogFor(std::uint64_t size) {
  int log = 10;  // the smallest window a frame can name
  while (log < kMaxWindowLog && (std::uint64_t{1} << log) < size) ++log;
  return log;
}

ResultChain Compress(const std::string& bytes, const std::string* prefix, int level, std::string& frame) {
  frame.clear();
  ZSTD_CCtx* context = ZSTD_createCCtx();
  if (context == nullptr) return KV_MARK(PackedObjectInvalid);
  const std::uint64_t span = bytes.size() + (prefix != nullptr ? prefix->size() : 0);
  std::size_t done = ZSTD_CCtx_setParameter(context, ZSTD_c_compressionLevel, level);
  if (!ZSTD_isError(done)) done = ZSTD_CCtx_setParameter(context, ZSTD_c_windowLog, WindowLogFor(span));
  if (!ZSTD_isError(done)) done = ZSTD_CCtx_setParameter(context, ZSTD_c_enableLongDistanceMatching, 1);
  if (!ZSTD_isError(done)) done = ZSTD_CCtx_setParameter(context, ZSTD_c_checksumFlag, 0);
  if (!ZSTD_isError(done) && prefix != nullptr) done = ZSTD_CCtx_refPrefix(context, prefix->data(), prefix->size());
  if (!ZSTD_isError(done)) {
    frame.resize(ZSTD_compressBound(bytes.size()));
    done = ZSTD_compress2(context, frame.data(), frame.size(), bytes.data(), bytes.size());
  }
  ZSTD_freeCCtx(context);
  if (ZSTD_isError(done)) {
    frame.clear();
    return KV_MARK(PackedObjectInvalid);
  }
  frame.resize(done);
  return {};
}

}  // namespace

ResultChain CompressWhole(const std::string& bytes, std::string& frame) {
  // Data the fastest level cannot shrink (compressed already, or random) would cost the
  // slow level minutes per hundred MiB for nothing.
  KV_RETURN_IF_FAILED(Compress(bytes, nullptr, 1, frame));
  if (frame.size() < bytes.size() - bytes.size() / kMinSaving) {
    KV_RETURN_IF_FAILED(Compress(bytes, nullptr, kPackLevel, frame));
  }
  if (frame.size() >= bytes.size() - bytes.size() / kMinSaving) frame.clear();
  return {};
}

ResultChain MakePatch(const std::string& from, const std::string& to, std::string& frame) {
  return KV_MARK(Compress(to, &from, kPatchLevel, frame));
}

}  // namespace kv::refengine
