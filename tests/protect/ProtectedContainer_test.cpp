#include "protect/ProtectedContainer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "HexBytes.h"
#include "foundation/ErrorCodes.h"
#include "protect/ContainerSeal.h"
#include "support/ResultAssertions.h"

namespace kv {
namespace {

using test::FromHex;
using test::ToHex;
using Bytes = std::vector<std::uint8_t>;

const char* const kKey = "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f";
const char* const kIv = "a0a1a2a3a4a5a6a7a8a9aaabacadaeafb0b1b2b3b4b5b6b7b8b9babbbcbdbebf";

const char* const kContainerA =
    "a0a1a2a3a4a5a6a7a8a9aaabacadaeafb0b1b2b3b4b5b6b7b8b9babbbcbdbebf"
    "32652f4c50226ddc0a097ce2466779fa0a369de91938d6fe92dc1392304ac3e0"
    "05b08cff659395c271f85d4942490fb519c52844b40e53aa1c72d0b0841dd712";
const char* const kContainerB =
    "a0a1a2a3a4a5a6a7a8a9aaabacadaeafb0b1b2b3b4b5b6b7b8b9babbbcbdbebf"
    "0b9e07bafe93bd36e90b9fc912f8e4c86d155782696dfef32f8acba580656690"
    "edf41415e6e7bd0e39d18664c29593528257dc1900b021dbe1a5637e9c32059e"
    "ef7f3d8d0aac986a758e4a16582231dd507d5c2c0d44905a84c4b1119c963d9a";
const char* const kContainerC =
    "a0a1a2a3a4a5a6a7a8a9aaabacadaeafb0b1b2b3b4b5b6b7b8b9babbbcbdbebf"
    "2d03de3a8b6ba4130b90ba3d70c60d5e1f1a2cd1bfb3947ac7ec396ec8f25bbb"
    "9149cb5adec5f676e5f47574ede37d7ab09280b1411ae1fa496f6c4ffe16b366"
    "aa64e2387d5258bb62c3f54a30744b352fd0f7d43e3044b9e45b4e8ddd3ac4c1"
    "4423095f82d3fca6cb85d15f953f0e11e3c5f68e33b295b479ff074e116a5790";

const char* const kPayloadB = "5b53657474696e675d0a5363616e446c6c3d5363616e456e67696e652e646c6c0a";
const char* const kPayloadC =
    "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f"
    "202122232425262728292a2b2c2d2e2f303132333435363738393a3b3c3d3e3f";

ProtectedContainer KeyedContainer(const char* keyHex = kKey) {
  ProtectedContainer container;
  const Bytes key = FromHex(keyHex);
  EXPECT_FALSE(container.SetKey(key.data(), key.size()).Failed());
  return container;
}

struct OpenCase {
  const char* label;
  const char* key;
  std::string container;
  bool opens;
  ErrorCode failure;    // root cause when it does not open
  const char* payload;  // hex, when it opens
};

TEST(ProtectedContainer, OpensAndRejectsTheReferenceContainers) {
  const std::string b = kContainerB;
  auto replaceBlock = [](std::string hex, int block, const std::string& with) {
    return hex.replace(64 * block, 64, with);
  };
  const std::string blockB1 = b.substr(64, 64), blockB2 = b.substr(128, 64);
  const char* wrongKey = "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1e";

  const OpenCase cases[] = {
      {"A: empty payload, 96 bytes, padding 32", kKey, kContainerA, true, 0, ""},
      {"B: 33-byte text", kKey, kContainerB, true, 0, kPayloadB},
      {"C: aligned 64 bytes", kKey, kContainerC, true, 0, kPayloadC},
      {"N1: digest block flipped", kKey, b.substr(0, 254) + "9b", false, err::NotSameHash, ""},
      {"N2: first ciphertext byte flipped", kKey, b.substr(0, 64) + "8" + b.substr(65), false, err::NotSameHash, ""},
      {"N3: IV flipped", kKey, replaceBlock(b, 0, "a1" + b.substr(2, 62)), false, err::NotSameHash, ""},
      {"N4: digest block cut off", kKey, b.substr(0, 192), false, err::NotSameHash, ""},
      {"N5: wrong key", wrongKey, b, false, err::NotSameHash, ""},
      {"N6: blocks swapped", kKey, replaceBlock(replaceBlock(b, 1, blockB2), 2, blockB1), false, err::NotSameHash,
       ""},
      {"N7: padding byte 0 removes nothing", kKey,
       std::string(kIv) + "10b97a1a763743d71df7c07f63d0b792406962deb03c052bd9e67ebef2b4ffa7"
                          "00a0c76e0e33c406a9ea2b147bf3cf94218b45eec44eb800f0411d7ca72fb3e2",
       true, 0, "404142434445464748494a4b4c4d4e4f505152535455565758595a5b5c5d5e00"},
      {"N8: padding byte 33", kKey,
       std::string(kIv) + "4bf52a4bc0c0576115de46ab0aef7cae7ba15e5d9b8cee0e65c3823bfa44cd02"
                          "b49a0cf4572b788c7887c2da86c8d3c6db5b475a0c4f8155204598bcc594b676",
       false, err::InvalidFormat, ""},
      {"N9: only the last padding byte counts", kKey,
       std::string(kIv) + "8bac96b6bf580a52cddb508f09038a7ddf269d67744658db2b324d4f537f1ae6"
                          "efd549ba4ff0cf04776483395cb729ff3f3bdbe507f5816e88743788c83a1f9a",
       true, 0, "404142434445464748494a4b4c4d4e4f505152535455565758595a5b5c"},
  };
  for (const OpenCase& c : cases) {
    const ProtectedContainer container = KeyedContainer(c.key);
    Bytes data = FromHex(c.container);
    const ResultChain chain = container.Open(data);
    if (c.opens) {
      EXPECT_FALSE(chain.Failed()) << c.label << ": " << chain.Last();
      EXPECT_EQ(ToHex(data), c.payload) << c.label;
    } else {
      EXPECT_EQ(chain.Last(), c.failure) << c.label;
      EXPECT_TRUE(data.empty()) << c.label << ": a rejected container left bytes";
    }
  }
}

TEST(ProtectedContainer, FailuresCarryTheirLineMarker) {
  const ProtectedContainer container = KeyedContainer();
  Bytes data = FromHex(std::string(kContainerA).substr(0, 190) + "00");
  const ResultChain chain = container.Open(data);
  ASSERT_EQ(chain.Count(), 2u);
  EXPECT_EQ(chain.Codes()[1], err::NotSameHash);
  EXPECT_TRUE(IsLineMarker(chain.Codes()[0]));
}

TEST(ProtectedContainer, KeyMustBeExactly32Bytes) {
  const Bytes material(64, 0x42);
  for (const std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{16}, std::size_t{31},
                                 std::size_t{33}, std::size_t{64}}) {
    ProtectedContainer container = KeyedContainer();
    EXPECT_EQ(container.SetKey(material.data(), size).Last(), err::InvalidKey) << size;
    // A refused key leaves no key behind, not the previous one.
    Bytes data = FromHex(kContainerB);
    EXPECT_EQ(container.Open(data).Last(), err::NotSetPassword) << size;
    EXPECT_TRUE(data.empty());
  }
  ProtectedContainer container;
  EXPECT_FALSE(container.SetKey(material.data(), 32).Failed());
}

TEST(ProtectedContainer, WithoutKeyNothingOpens) {
  const ProtectedContainer container;
  Bytes data = FromHex(kContainerB);
  EXPECT_EQ(container.Open(data).Last(), err::NotSetPassword);
  EXPECT_TRUE(data.empty());
}

TEST(ProtectedContainer, ShortOrRaggedContainersAreInvalidFormat) {
  const ProtectedContainer container = KeyedContainer();
  const Bytes full = FromHex(kContainerB);
  for (const std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{32}, std::size_t{64},
                                 std::size_t{95}, std::size_t{97}, std::size_t{127}}) {
    Bytes data(full.begin(), full.begin() + std::min(size, full.size()));
    data.resize(size, 0x20);
    EXPECT_EQ(container.Open(data).Last(), err::InvalidFormat) << size;
    EXPECT_TRUE(data.empty()) << size;
  }
}

TEST(ContainerSeal, ReproducesTheReferenceContainers) {
  const Bytes key = FromHex(kKey);
  Digest256 iv;
  const Bytes ivBytes = FromHex(kIv);
  std::copy(ivBytes.begin(), ivBytes.end(), iv.begin());
  const struct {
    const char* payload;
    const char* container;
  } rows[] = {{"", kContainerA}, {kPayloadB, kContainerB}, {kPayloadC, kContainerC}};
  for (const auto& row : rows) {
    Bytes sealed;
    ASSERT_TRUE(SealContainer(FromHex(row.payload), key.data(), key.size(), iv, sealed));
    EXPECT_EQ(ToHex(sealed), row.container) << row.payload;
  }
  Bytes sealed{1, 2, 3};
  EXPECT_FALSE(SealContainer(Bytes{1}, key.data(), 31, iv, sealed));
  EXPECT_TRUE(sealed.empty());
}

TEST(ContainerSeal, EveryPayloadLengthRoundTripsReproducibly) {
  const Bytes key = FromHex(kKey);
  const ProtectedContainer container = KeyedContainer();
  for (std::size_t length = 0; length <= 100; ++length) {
    Bytes payload(length);
    for (std::size_t i = 0; i < length; ++i) payload[i] = static_cast<std::uint8_t>(i * 7 + length);
    const Digest256 iv = DeriveContainerIv(key.data(), key.size(), payload);
    Bytes first, second;
    ASSERT_TRUE(SealContainer(payload, key.data(), key.size(), iv, first));
    ASSERT_TRUE(SealContainer(payload, key.data(), key.size(), DeriveContainerIv(key.data(), key.size(), payload),
                              second));
    EXPECT_EQ(first, second) << length;
    EXPECT_EQ(first.size(), 64 + (length / 32 + 1) * 32) << length;
    ASSERT_FALSE(container.Open(first).Failed()) << length;
    EXPECT_EQ(first, payload) << length;
  }
}

TEST(ContainerSeal, ConfigurationOpensOnlyWithItsBuildSecret) {
  Digest256 secret{};
  for (std::size_t i = 0; i < secret.size(); ++i) secret[i] = static_cast<std::uint8_t>(0xC0 + i);
  const std::string text = "[Setting]\nScanDll=ScanEngine.dll\n";
  const Bytes textBytes(text.begin(), text.end());
  const SealedConfiguration sealed = SealConfiguration(secret, textBytes);
  EXPECT_EQ(sealed.keyResource.size(), 128u);
  EXPECT_EQ(SealConfiguration(secret, textBytes).configResource, sealed.configResource);

  auto open = [&](const Digest256& buildSecret, Bytes& payload) {
    const Digest256 keyOne = KeyMaterialContainerKey(buildSecret);
    ProtectedContainer keys;
    EXPECT_OK(keys.SetKey(keyOne.data(), keyOne.size()));
    Bytes material = sealed.keyResource;
    if (ResultChain chain = keys.Open(material); chain.Failed()) return chain;
    const Digest256 key = Sha256::Of(material.data(), material.size());
    ProtectedContainer config;
    EXPECT_OK(config.SetKey(key.data(), key.size()));
    payload = sealed.configResource;
    return config.Open(payload);
  };
  Bytes payload;
  ASSERT_FALSE(open(secret, payload).Failed());
  EXPECT_EQ(payload, textBytes);

  Digest256 other = secret;
  other[31] ^= 1;
  EXPECT_EQ(open(other, payload).Last(), err::NotSameHash);
  EXPECT_NE(SealConfiguration(other, textBytes).configResource, sealed.configResource);
}

}  // namespace
}  // namespace kv
