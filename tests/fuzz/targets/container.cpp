// The protected-container opener, three ways: arbitrary bytes as a container; arbitrary
// plaintext (IV, payload, padding) encrypted under a valid digest, whose outcome a model
// of the format predicts; and any payload sealed and opened again.
#include <vector>

#include "FuzzInput.h"
#include "foundation/ErrorCodes.h"
#include "protect/ContainerSeal.h"
#include "protect/ProtectedContainer.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::size_t kBlock = kv::Rijndael256::kBlockSize;

const kv::Digest256 kKey = kv::Sha256::Of("fuzz", 4);

// IV | plaintext blocks | SHA-256 of both, CBC-encrypted after the clear IV.
Bytes Encrypt(const Bytes& plain) {
  kv::Rijndael256 cipher;
  cipher.SetKey(kKey.data(), kKey.size());
  Bytes container = plain;
  const kv::Digest256 digest = kv::Sha256::Of(plain.data(), plain.size());
  container.insert(container.end(), digest.begin(), digest.end());
  for (std::size_t offset = kBlock; offset < container.size(); offset += kBlock) {
    for (std::size_t i = 0; i < kBlock; ++i) container[offset + i] ^= container[offset - kBlock + i];
    cipher.EncryptBlock(container.data() + offset);
  }
  return container;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput input(data, size);
  const std::uint8_t mode = input.Byte() % 3;
  const std::string_view rest = input.Rest();
  Bytes bytes(rest.begin(), rest.end());
  kv::ProtectedContainer container;
  FUZZ_CHECK(!container.SetKey(kKey.data(), kKey.size()).Failed());

  if (mode == 0) {
    const std::size_t original = bytes.size();
    const kv::ResultChain result = container.Open(bytes);
    if (result.Failed()) {
      FUZZ_CHECK(bytes.empty());
      FUZZ_CHECK(result.Last() == kv::err::InvalidFormat || result.Last() == kv::err::NotSameHash);
    } else {
      FUZZ_CHECK(bytes.size() + 2 * kBlock <= original);
    }
  } else if (mode == 1) {
    bytes.resize(bytes.size() / kBlock * kBlock);
    // What the format says comes out: the IV and the padding (its count in the last
    // byte, at most one block) removed, or InvalidFormat.
    const std::size_t padding = bytes.empty() ? 0 : bytes.back();
    const bool valid = bytes.size() >= 2 * kBlock && padding <= kBlock && bytes.size() - padding >= kBlock;
    const Bytes expected = valid ? Bytes(bytes.begin() + kBlock, bytes.end() - padding) : Bytes();
    Bytes opened = Encrypt(bytes);
    const kv::ResultChain result = container.Open(opened);
    FUZZ_CHECK(result.Failed() != valid);
    FUZZ_CHECK(valid || result.Last() == kv::err::InvalidFormat);
    FUZZ_CHECK(opened == expected);
  } else {
    Bytes sealed;
    FUZZ_CHECK(kv::SealContainer(bytes, kKey.data(), kKey.size(),
                                 kv::DeriveContainerIv(kKey.data(), kKey.size(), bytes), sealed));
    FUZZ_CHECK(!container.Open(sealed).Failed());
    FUZZ_CHECK(sealed == bytes);
  }
  return 0;
}
