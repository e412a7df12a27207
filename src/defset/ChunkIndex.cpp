#include "defset/ChunkIndex.h"

#include <algorithm>
#include <cstring>

namespace kv::refengine {

namespace {

constexpr char kMagic[8] = {'K', 'V', 'C', 'H', 'U', 'N', 'K', '1'};
// Top bits of the rolling hash: each bit there depends on the last 64 bytes.
constexpr std::uint64_t kCutMask = ~std::uint64_t{0} << (64 - kCutBits);

// The byte table of the rolling hash: splitmix64's outputs 1 to 256 from state 0. Part
// of the published format: another table cuts other chunks.
struct GearTable {
  std::uint64_t values[256];
  constexpr GearTable() : values() {
    std::uint64_t state = 0;
    for (std::uint64_t& value : values) {
      state += 0x9E3779B97F4A7C15ull;
      std::uint64_t z = state;
      z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
      z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
      value = z ^ (z >> 31);
    }
  }
};
constexpr GearTable kGear;

void PutU32(std::string& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}
void PutU64(std::string& out, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}
std::uint64_t GetLe(std::string_view bytes, std::size_t at, int width) {
  std::uint64_t v = 0;
  for (int i = width - 1; i >= 0; --i) v = (v << 8) | static_cast<std::uint8_t>(bytes[at + i]);
  return v;
}

}  // namespace

ChunkDigest ChunkDigestOf(const Digest256& whole) {
  ChunkDigest digest{};
  std::copy_n(whole.begin(), digest.size(), digest.begin());
  return digest;
}

void ChunkCutter::Cut() {
  chunks_.push_back({start_, length_, ChunkDigestOf(sha_.Finish())});
  start_ += length_;
  length_ = 0;
  hash_ = 0;
}

void ChunkCutter::Update(const char* data, std::size_t size) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(data);
  std::size_t begin = 0;
  for (std::size_t i = 0; i < size; ++i) {
    hash_ = (hash_ << 1) + kGear.values[bytes[i]];
    ++length_;
    if ((length_ >= kMinChunk && (hash_ & kCutMask) == 0) || length_ == kMaxChunk) {
      sha_.Update(bytes + begin, i + 1 - begin);
      begin = i + 1;
      Cut();
    }
  }
  sha_.Update(bytes + begin, size - begin);
}

void ChunkCutter::Finish() {
  if (length_ != 0) Cut();
}

std::vector<Chunk> CutChunks(std::string_view bytes) {
  std::vector<Chunk> chunks;
  ChunkCutter cutter(chunks);
  cutter.Update(bytes.data(), bytes.size());
  cutter.Finish();
  return chunks;
}

std::string ChunkIndexBytes(const std::vector<Chunk>& chunks, std::uint64_t fileSize) {
  std::string out(kMagic, sizeof(kMagic));
  PutU32(out, kMinChunk);
  PutU32(out, kCutBits);
  PutU32(out, kMaxChunk);
  PutU64(out, fileSize);
  PutU32(out, static_cast<std::uint32_t>(chunks.size()));
  for (const Chunk& chunk : chunks) {
    PutU32(out, chunk.length);
    out.append(reinterpret_cast<const char*>(chunk.digest.data()), chunk.digest.size());
  }
  return out;
}

bool ParseChunkIndex(std::string_view bytes, std::uint64_t fileSize, std::vector<Chunk>& chunks) {
  chunks.clear();
  if (bytes.size() < kChunkIndexHeader || std::memcmp(bytes.data(), kMagic, sizeof(kMagic)) != 0) return false;
  if (GetLe(bytes, 8, 4) != kMinChunk || GetLe(bytes, 12, 4) != kCutBits || GetLe(bytes, 16, 4) != kMaxChunk ||
      GetLe(bytes, 20, 8) != fileSize) {
    return false;
  }
  const std::uint64_t count = GetLe(bytes, 28, 4);
  if (bytes.size() != kChunkIndexHeader + count * kChunkIndexEntry) return false;
  std::uint64_t offset = 0;
  chunks.reserve(count);
  for (std::size_t at = kChunkIndexHeader; at < bytes.size(); at += kChunkIndexEntry) {
    Chunk chunk;
    chunk.offset = offset;
    chunk.length = static_cast<std::uint32_t>(GetLe(bytes, at, 4));
    if (chunk.length == 0 || chunk.length > kMaxChunk || chunk.length > fileSize - offset) return false;
    std::memcpy(chunk.digest.data(), bytes.data() + at + 4, chunk.digest.size());
    offset += chunk.length;
    chunks.push_back(chunk);
  }
  return offset == fileSize;
}

}  // namespace kv::refengine
