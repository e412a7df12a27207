#include "protect/Rijndael256.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "HexBytes.h"

namespace kv {
namespace {

using test::FromHex;
using test::ToHex;

struct BlockCase {
  const char* label;
  const char* key;
  const char* plain;
  const char* cipher;
};

// Published Rijndael-256/256 answers (Gladman's set, NESSIE sets 1 and 2) and single
// blocks under the container test key.
const BlockCase kBlocks[] = {
    {"Gladman #21", "2b7e151628aed2a6abf7158809cf4f3c762e7160f38b4da56a784d9045190cfe",
     "3243f6a8885a308d313198a2e03707344a4093822299f31d0082efa98ec4e6c8",
     "a49406115dfb30a40418aafa4869b7c6a886ff31602a7dd19c889dc64f7e4e7a"},
    {"NESSIE set 1 #0", "8000000000000000000000000000000000000000000000000000000000000000",
     "0000000000000000000000000000000000000000000000000000000000000000",
     "e62abce069837b65309be4eda2c0e149fe56c07b7082d3287f592c4a4927a277"},
    {"NESSIE set 1 #1", "4000000000000000000000000000000000000000000000000000000000000000",
     "0000000000000000000000000000000000000000000000000000000000000000",
     "1f00b4dd622c0b2951f25970b0ed47a65f513112daca242b5292ca314917bf94"},
    {"NESSIE set 1 #2", "2000000000000000000000000000000000000000000000000000000000000000",
     "0000000000000000000000000000000000000000000000000000000000000000",
     "2aa9f4be159f9f8777561281c1cc4fcd7435e6e855e222426c309838abd5ffee"},
    {"NESSIE set 1 #3", "1000000000000000000000000000000000000000000000000000000000000000",
     "0000000000000000000000000000000000000000000000000000000000000000",
     "b4adf28c3a85c337aa3150e3032b941aa49f12f911221dd91a62919cad447cfb"},
    {"NESSIE set 2 #0", "0000000000000000000000000000000000000000000000000000000000000000",
     "8000000000000000000000000000000000000000000000000000000000000000",
     "159a08e46e616e6e9978502010daff922eb362e77dcaaf02eaeb7354eb8b8dba"},
    {"NESSIE set 2 #1", "0000000000000000000000000000000000000000000000000000000000000000",
     "4000000000000000000000000000000000000000000000000000000000000000",
     "2756ddecd7558b198962f092d7ba3eef45d9e287380aab8e852658092aa9dfa1"},
    {"NESSIE set 2 #2", "0000000000000000000000000000000000000000000000000000000000000000",
     "2000000000000000000000000000000000000000000000000000000000000000",
     "87b829fb7b0c16c408151d323fcb8b56ebc0573747d46c2b47bfd533ed3273c9"},
    {"NESSIE set 2 #3", "0000000000000000000000000000000000000000000000000000000000000000",
     "1000000000000000000000000000000000000000000000000000000000000000",
     "db462eec713d4cc89607dca35c4fe6e8d618c8bdacd3dd1c0a1b14e6ca8c23c6"},
    {"container key, zero block", "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
     "0000000000000000000000000000000000000000000000000000000000000000",
     "1be9f84767b4c5e66a08e3c9addecda80d6943519ee7370fb30138ff0aaf03e8"},
    {"container key, IV block", "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
     "a0a1a2a3a4a5a6a7a8a9aaabacadaeafb0b1b2b3b4b5b6b7b8b9babbbcbdbebf",
     "41c48b75e32d430cf5b789e522627f7bb716f8ba4e0306ed3aa66a7b8f8c26c5"},
    {"container key, key block", "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
     "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
     "623d2bd4ca3796dc3d02ecf2f37fb637fd3da58509cebb67ab9265b04db51e7d"},
};

TEST(Rijndael256, KnownAnswersEncryptAndDecrypt) {
  for (const BlockCase& c : kBlocks) {
    Rijndael256 cipher;
    const std::vector<std::uint8_t> key = FromHex(c.key);
    ASSERT_TRUE(cipher.SetKey(key.data(), key.size())) << c.label;
    std::vector<std::uint8_t> block = FromHex(c.plain);
    cipher.EncryptBlock(block.data());
    EXPECT_EQ(ToHex(block), c.cipher) << c.label;
    block = FromHex(c.cipher);
    cipher.DecryptBlock(block.data());
    EXPECT_EQ(ToHex(block), c.plain) << c.label;
  }
}

TEST(Rijndael256, IteratedThousandTimes) {
  Rijndael256 cipher;
  const std::vector<std::uint8_t> key = FromHex("8000000000000000000000000000000000000000000000000000000000000000");
  ASSERT_TRUE(cipher.SetKey(key.data(), key.size()));
  std::vector<std::uint8_t> block(32, 0);
  for (int i = 0; i < 1000; ++i) cipher.EncryptBlock(block.data());
  EXPECT_EQ(ToHex(block), "16990d2f01f21a61678538bd10f1f231a1dcb8d4e73cddf6a33b5b5fa2368e14");
  for (int i = 0; i < 1000; ++i) cipher.DecryptBlock(block.data());
  EXPECT_EQ(ToHex(block), std::string(64, '0'));
}

TEST(Rijndael256, KeyScheduleHasFifteenRoundKeysOfEightWords) {
  Rijndael256 cipher;
  const std::vector<std::uint8_t> key = FromHex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
  ASSERT_TRUE(cipher.SetKey(key.data(), key.size()));
  const auto& keys = cipher.RoundKeys();
  ASSERT_EQ(keys.size(), 15u * 32u);
  const struct {
    int round;
    const char* words;
  } rows[] = {
      {0, "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f"},
      {1, "a573c29fa176c498a97fce93a572c09c1651a8cd0244beda1a5da4c10640bade"},
      {7, "24fc79ccbf0979e9371ac23c6d68de36721f7b9cdbed347ca5ba1fd66842d23c"},
      {13, "d4f96ac383b01b64d194ecc71730ab7bf967bb6059aa3948ff4546d913250cb4"},
      {14, "a607e7be25b7fcdaf423101de313bb66e81a5153b1b0681b4ef52ec25dd02276"},
  };
  for (const auto& row : rows) {
    const std::vector<std::uint8_t> roundKey(keys.begin() + 32 * row.round, keys.begin() + 32 * (row.round + 1));
    EXPECT_EQ(ToHex(roundKey), row.words) << "round " << row.round;
  }
}

TEST(Rijndael256, RefusesKeysThatAreNot32Bytes) {
  const std::vector<std::uint8_t> material(64, 0x5A);
  for (const std::size_t size : {std::size_t{0}, std::size_t{16}, std::size_t{24}, std::size_t{31},
                                 std::size_t{33}, std::size_t{64}}) {
    Rijndael256 cipher;
    ASSERT_TRUE(cipher.SetKey(material.data(), 32));
    EXPECT_FALSE(cipher.SetKey(material.data(), size)) << size;
    EXPECT_FALSE(cipher.HasKey()) << size;
    // Without a key nothing is transformed, so no block passes as enciphered.
    std::vector<std::uint8_t> block(32, 0x11);
    cipher.EncryptBlock(block.data());
    EXPECT_EQ(block, std::vector<std::uint8_t>(32, 0x11)) << size;
  }
}

TEST(Rijndael256, EveryBlockRoundTripsAndDistinctBlocksStayDistinct) {
  Rijndael256 cipher;
  const std::vector<std::uint8_t> key = FromHex("2b7e151628aed2a6abf7158809cf4f3c762e7160f38b4da56a784d9045190cfe");
  ASSERT_TRUE(cipher.SetKey(key.data(), key.size()));
  std::set<std::string> ciphertexts;
  for (int value = 0; value < 256; ++value) {
    std::vector<std::uint8_t> block(32, static_cast<std::uint8_t>(value));
    block[value % 32] ^= 0x80;
    const std::vector<std::uint8_t> plain = block;
    cipher.EncryptBlock(block.data());
    EXPECT_NE(block, plain) << value;
    ciphertexts.insert(ToHex(block));
    cipher.DecryptBlock(block.data());
    EXPECT_EQ(block, plain) << value;
  }
  EXPECT_EQ(ciphertexts.size(), 256u);
}

}  // namespace
}  // namespace kv
