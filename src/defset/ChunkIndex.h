// Content-defined chunks of a definition file and the published index of them.
//
// A file is cut where a rolling hash of its last 64 bytes has its top bits clear, so a
// cut point depends only on the bytes around it: an edit moves the cuts near it and no
// others, and the chunks before and after keep their content. A changed file then costs
// the chunks the edit touched, wherever in the file the rest moved to.
//
// The index is part of the published format ("defset.chunks\<file name>", named in the
// manifest with its digest), little-endian:
//   8 bytes  "KVCHUNK1"
//   u32      minimum chunk length   (kMinChunk)
//   u32      number of hash bits that must be clear for a cut (kCutBits)
//   u32      maximum chunk length   (kMaxChunk)
//   u64      file size
//   u32      chunk count
//   then per chunk, in file order: u32 length, 8 bytes (the first 8 of its SHA-256)
// Eight bytes tell a file's chunks apart; should two chunks ever agree in them, the
// assembled file fails its whole digest and is fetched whole.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "protect/Sha256.h"

namespace kv::refengine {

inline constexpr std::uint32_t kMinChunk = 8 * 1024;
inline constexpr std::uint32_t kCutBits = 14;  // a cut on average every 16 KiB past the minimum
inline constexpr std::uint32_t kMaxChunk = 64 * 1024;
inline constexpr std::size_t kChunkIndexHeader = 32;
inline constexpr std::size_t kChunkIndexEntry = 12;

using ChunkDigest = std::array<std::uint8_t, 8>;

struct Chunk {
  std::uint64_t offset = 0;
  std::uint32_t length = 0;
  ChunkDigest digest{};
  bool operator==(const Chunk&) const = default;
};

ChunkDigest ChunkDigestOf(const Digest256& whole);

// Cuts a stream fed piece by piece; each finished chunk is appended to `chunks` with its
// offset, length and digest. Finish ends the last one.
class ChunkCutter {
 public:
  explicit ChunkCutter(std::vector<Chunk>& chunks) : chunks_(chunks) {}
  void Update(const char* data, std::size_t size);
  void Finish();

 private:
  void Cut();

  std::vector<Chunk>& chunks_;
  std::uint64_t start_ = 0;
  std::uint32_t length_ = 0;
  std::uint64_t hash_ = 0;
  Sha256 sha_;
};

// The chunks of a whole text (kvtool, tests).
std::vector<Chunk> CutChunks(std::string_view bytes);

// The index bytes of a file's chunks.
std::string ChunkIndexBytes(const std::vector<Chunk>& chunks, std::uint64_t fileSize);

// Reads index bytes made with this engine's parameters for a file of `fileSize` bytes;
// false for anything else (another format or parameters, lengths that do not add up to
// the file, a length outside the bounds): such an index is not used, the file is
// fetched whole.
bool ParseChunkIndex(std::string_view bytes, std::uint64_t fileSize, std::vector<Chunk>& chunks);

}  // namespace kv::refengine
