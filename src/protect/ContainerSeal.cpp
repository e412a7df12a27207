#include "protect/ContainerSeal.h"

#include <string_view>

#include "protect/Rijndael256.h"

namespace kv {

namespace {

constexpr std::size_t kBlock = Rijndael256::kBlockSize;

// SHA-256 of a label (with its terminating zero, so that labels never run into the
// data) followed by the pieces. Distinct labels keep the derived values independent.
Digest256 LabelledDigest(std::string_view label, const void* a, std::size_t aSize, const void* b = nullptr,
                         std::size_t bSize = 0) {
  Sha256 hash;
  hash.Update(label.data(), label.size());
  const std::uint8_t zero = 0;
  hash.Update(&zero, 1);
  hash.Update(a, aSize);
  if (b != nullptr) hash.Update(b, bSize);
  return hash.Finish();
}

}  // namespace

bool SealContainer(const ByteString& payload, const std::uint8_t* key, std::size_t keySize, const Digest256& iv,
                   ByteString& container) {
  container.clear();
  Rijndael256 cipher;
  if (!cipher.SetKey(key, keySize)) return false;

  const std::size_t padding = kBlock - payload.size() % kBlock;
  container.reserve(kBlock + payload.size() + padding + kBlock);
  container.insert(container.end(), iv.begin(), iv.end());
  container.insert(container.end(), payload.begin(), payload.end());
  container.insert(container.end(), padding, static_cast<std::uint8_t>(padding));
  const Digest256 digest = Sha256::Of(container.data(), container.size());
  container.insert(container.end(), digest.begin(), digest.end());

  for (std::size_t offset = kBlock; offset < container.size(); offset += kBlock) {
    for (std::size_t i = 0; i < kBlock; ++i) container[offset + i] ^= container[offset - kBlock + i];
    cipher.EncryptBlock(container.data() + offset);
  }
  return true;
}

Digest256 DeriveContainerIv(const std::uint8_t* key, std::size_t keySize, const ByteString& payload) {
  return LabelledDigest("kv.container.iv", key, keySize, payload.data(), payload.size());
}

Digest256 KeyMaterialContainerKey(const Digest256& buildSecret) {
  return LabelledDigest("kv.resource1.key", buildSecret.data(), buildSecret.size());
}

Digest256 KeyMaterialFor(const Digest256& buildSecret, const ByteString& configText) {
  const Digest256 textDigest = Sha256::Of(configText.data(), configText.size());
  return LabelledDigest("kv.resource1.material", buildSecret.data(), buildSecret.size(), textDigest.data(),
                        textDigest.size());
}

SealedConfiguration SealConfiguration(const Digest256& buildSecret, const ByteString& configText) {
  SealedConfiguration sealed;
  const Digest256 material = KeyMaterialFor(buildSecret, configText);
  const ByteString materialBytes(material.begin(), material.end());

  const Digest256 keyOne = KeyMaterialContainerKey(buildSecret);
  SealContainer(materialBytes, keyOne.data(), keyOne.size(),
                DeriveContainerIv(keyOne.data(), keyOne.size(), materialBytes), sealed.keyResource);

  const Digest256 configKey = Sha256::Of(material.data(), material.size());
  SealContainer(configText, configKey.data(), configKey.size(),
                DeriveContainerIv(configKey.data(), configKey.size(), configText), sealed.configResource);
  return sealed;
}

}  // namespace kv
