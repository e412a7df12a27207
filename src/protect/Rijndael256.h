// Rijndael with a 256-bit block and a 256-bit key (14 rounds). Not AES: the block is
// 32 bytes. Portable C++ (also built by the host compiler for the sealing tool).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace kv {

class Rijndael256 {
 public:
  static constexpr std::size_t kBlockSize = 32;
  static constexpr std::size_t kKeySize = 32;
  static constexpr int kRounds = 14;

  // Computes the key schedule. Only a 32-byte key is accepted; anything else leaves
  // the cipher without a key and returns false.
  bool SetKey(const std::uint8_t* key, std::size_t size);
  bool HasKey() const { return hasKey_; }

  // One block, in place. Both need a key; without one the block is left unchanged.
  void EncryptBlock(std::uint8_t* block) const;
  void DecryptBlock(std::uint8_t* block) const;

  // The round keys (15 of 32 bytes, one after another), for checking the schedule.
  const std::array<std::uint8_t, kBlockSize*(kRounds + 1)>& RoundKeys() const { return roundKeys_; }

 private:
  std::array<std::uint8_t, kBlockSize*(kRounds + 1)> roundKeys_{};
  bool hasKey_ = false;
};

}  // namespace kv
