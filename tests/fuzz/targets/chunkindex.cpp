// A file's chunk index, as a share or web server publishes it: any bytes are refused or
// describe chunks that tile the file exactly, within the chunk bounds, and write back to
// the same bytes. And the cutter on any content gives chunks such an index can hold.
#include <cstring>

#include "FuzzInput.h"
#include "defset/ChunkIndex.h"

namespace ref = kv::refengine;

namespace {

void CheckTiles(const std::vector<ref::Chunk>& chunks, std::uint64_t size) {
  std::uint64_t offset = 0;
  for (const ref::Chunk& chunk : chunks) {
    FUZZ_CHECK(chunk.offset == offset && chunk.length >= 1 && chunk.length <= ref::kMaxChunk);
    offset += chunk.length;
  }
  FUZZ_CHECK(offset == size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput input(data, size);
  const std::string_view bytes = input.Rest();
  // The file size the manifest would list: the one the index itself claims, or another.
  std::uint64_t claimed = 0;
  if (bytes.size() >= 28) std::memcpy(&claimed, bytes.data() + 20, sizeof(claimed));
  for (const std::uint64_t fileSize : {claimed, claimed + 1, std::uint64_t{bytes.size()}}) {
    std::vector<ref::Chunk> chunks;
    if (!ref::ParseChunkIndex(bytes, fileSize, chunks)) continue;
    CheckTiles(chunks, fileSize);
    FUZZ_CHECK(ref::ChunkIndexBytes(chunks, fileSize) == bytes);
  }
  const std::vector<ref::Chunk> cut = ref::CutChunks(bytes);
  CheckTiles(cut, bytes.size());
  for (std::size_t i = 0; i + 1 < cut.size(); ++i) FUZZ_CHECK(cut[i].length >= ref::kMinChunk);
  std::vector<ref::Chunk> back;
  FUZZ_CHECK(ref::ParseChunkIndex(ref::ChunkIndexBytes(cut, bytes.size()), bytes.size(), back));
  FUZZ_CHECK(back == cut);
  return 0;
}
