// SHA-256 digest, portable C++ (also built by the host compiler for the sealing tool).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace kv {

using Digest256 = std::array<std::uint8_t, 32>;

// Streaming SHA-256: feed any number of Update pieces, then Finish once.
class Sha256 {
 public:
  Sha256();

  void Update(const void* data, std::size_t size);
  // The digest of everything fed so far; the object then starts over.
  Digest256 Finish();

  static Digest256 Of(const void* data, std::size_t size);

 private:
  void Reset();
  void Compress(const std::uint8_t* block);

  std::array<std::uint32_t, 8> state_{};
  std::array<std::uint8_t, 64> buffer_{};
  std::size_t buffered_ = 0;
  std::uint64_t totalBytes_ = 0;
};

}  // namespace kv
