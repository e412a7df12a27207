#include "protect/ProtectedContainer.h"

#include "foundation/ErrorCodes.h"
#include "protect/Sha256.h"

namespace kv {

namespace {

constexpr std::size_t kBlock = Rijndael256::kBlockSize;

// Compares without an early exit, so the time taken says nothing about where it differs.
bool SameDigest(const std::uint8_t* a, const std::uint8_t* b) {
  std::uint8_t difference = 0;
  for (std::size_t i = 0; i < kBlock; ++i) difference |= static_cast<std::uint8_t>(a[i] ^ b[i]);
  return difference == 0;
}

ResultChain Fail(std::vector<std::uint8_t>& data, const ResultChain& chain) {
  data.clear();
  return chain;
}

}  // namespace

ResultChain ProtectedContainer::SetKey(const std::uint8_t* key, std::size_t size) {
  if (size != Rijndael256::kKeySize || !cipher_.SetKey(key, size)) {
    cipher_.SetKey(nullptr, 0);
    return KV_MARK(err::InvalidKey);
  }
  return {};
}

ResultChain ProtectedContainer::Open(std::vector<std::uint8_t>& data) const {
  if (!cipher_.HasKey()) return Fail(data, KV_MARK(err::NotSetPassword));
  if (data.size() < 3 * kBlock) return Fail(data, KV_MARK(err::InvalidFormat));
  // A trailing partial block would be compared as ciphertext; refuse it outright.
  if (data.size() % kBlock != 0) return Fail(data, KV_MARK(err::InvalidFormat));

  const std::vector<std::uint8_t> ciphertext = data;
  for (std::size_t offset = kBlock; offset < data.size(); offset += kBlock) {
    cipher_.DecryptBlock(data.data() + offset);
    for (std::size_t i = 0; i < kBlock; ++i) data[offset + i] ^= ciphertext[offset - kBlock + i];
  }

  const std::size_t digestOffset = data.size() - kBlock;
  const Digest256 digest = Sha256::Of(data.data(), digestOffset);
  if (!SameDigest(digest.data(), data.data() + digestOffset)) return Fail(data, KV_MARK(err::NotSameHash));
  data.resize(digestOffset);

  const std::size_t padding = data.back();
  if (padding > kBlock) return Fail(data, KV_MARK(err::InvalidFormat));
  data.resize(data.size() - padding);

  // At least two blocks were left after the digest, so the IV is always whole here.
  if (data.size() < kBlock) return Fail(data, KV_MARK(err::InvalidFormat));
  data.erase(data.begin(), data.begin() + kBlock);
  return {};
}

}  // namespace kv
