// Random and damaged containers: opening never crashes, and a container whose digest
// fails never yields a byte. Fixed seeds keep failures reproducible.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "foundation/ErrorCodes.h"
#include "protect/ContainerSeal.h"
#include "protect/ProtectedContainer.h"

namespace kv {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes RandomBytes(std::mt19937& random, std::size_t size) {
  Bytes bytes(size);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
  return bytes;
}

Digest256 RandomKey(std::mt19937& random) {
  Digest256 key;
  for (auto& b : key) b = static_cast<std::uint8_t>(random());
  return key;
}

TEST(ContainerFuzz, RandomBytesNeverOpen) {
  std::mt19937 random(20261208);
  const Digest256 key = RandomKey(random);
  ProtectedContainer container;
  ASSERT_FALSE(container.SetKey(key.data(), key.size()).Failed());
  int digestFailures = 0;
  for (int i = 0; i < 12000; ++i) {
    // Mostly whole blocks, so that most attempts reach the digest check.
    const std::size_t size = (i % 4 == 0) ? random() % 400 : 32 * (random() % 12);
    Bytes data = RandomBytes(random, size);
    const ResultChain chain = container.Open(data);
    ASSERT_TRUE(chain.Failed()) << "random bytes opened, size " << size;
    EXPECT_TRUE(data.empty()) << "size " << size;
    const ErrorCode cause = chain.Last();
    ASSERT_TRUE(cause == err::NotSameHash || cause == err::InvalidFormat) << std::hex << cause;
    if (cause == err::NotSameHash) ++digestFailures;
  }
  EXPECT_GT(digestFailures, 6000);
}

TEST(ContainerFuzz, DamagedContainersFailTheirDigest) {
  std::mt19937 random(7);
  int opened = 0;
  for (int i = 0; i < 8000; ++i) {
    const Digest256 key = RandomKey(random);
    ProtectedContainer container;
    ASSERT_FALSE(container.SetKey(key.data(), key.size()).Failed());
    const Bytes payload = RandomBytes(random, random() % 200);
    Bytes sealed;
    ASSERT_TRUE(SealContainer(payload, key.data(), key.size(), DeriveContainerIv(key.data(), key.size(), payload),
                              sealed));
    Bytes intact = sealed;
    ASSERT_FALSE(container.Open(intact).Failed());
    ASSERT_EQ(intact, payload);
    ++opened;

    Bytes damaged = sealed;
    switch (i % 3) {
      case 0:  // one bit anywhere
        damaged[random() % damaged.size()] ^= static_cast<std::uint8_t>(1u << (random() % 8));
        break;
      case 1:  // a few bits
        for (int flips = 1 + random() % 4; flips > 0; --flips) {
          damaged[random() % damaged.size()] ^= static_cast<std::uint8_t>(1u << (random() % 8));
        }
        if (damaged == sealed) damaged[0] ^= 1;
        break;
      default:  // a whole block dropped or added
        if (random() % 2 == 0) {
          const std::size_t block = random() % (damaged.size() / 32);
          damaged.erase(damaged.begin() + 32 * block, damaged.begin() + 32 * (block + 1));
        } else {
          const Bytes extra = RandomBytes(random, 32);
          damaged.insert(damaged.begin() + 32 * (random() % (damaged.size() / 32 + 1)), extra.begin(), extra.end());
        }
        break;
    }
    const ResultChain chain = container.Open(damaged);
    ASSERT_TRUE(chain.Failed()) << "damaged container opened, case " << i;
    EXPECT_TRUE(damaged.empty()) << "case " << i;
    EXPECT_TRUE(chain.Last() == err::NotSameHash || chain.Last() == err::InvalidFormat) << "case " << i;
  }
  EXPECT_EQ(opened, 8000);
}

}  // namespace
}  // namespace kv
