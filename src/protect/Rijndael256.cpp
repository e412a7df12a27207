#include "protect/Rijndael256.h"

namespace kv {

namespace {

// The Rijndael S-box; the inverse is derived from it.
constexpr std::uint8_t kSbox[256] = {
    0x63, 0x7c, 0x77, 0x7b, 0xf2, 0x6b, 0x6f, 0xc5, 0x30, 0x01, 0x67, 0x2b, 0xfe, 0xd7, 0xab, 0x76,
    0xca, 0x82, 0xc9, 0x7d, 0xfa, 0x59, 0x47, 0xf0, 0xad, 0xd4, 0xa2, 0xaf, 0x9c, 0xa4, 0x72, 0xc0,
    0xb7, 0xfd, 0x93, 0x26, 0x36, 0x3f, 0xf7, 0xcc, 0x34, 0xa5, 0xe5, 0xf1, 0x71, 0xd8, 0x31, 0x15,
    0x04, 0xc7, 0x23, 0xc3, 0x18, 0x96, 0x05, 0x9a, 0x07, 0x12, 0x80, 0xe2, 0xeb, 0x27, 0xb2, 0x75,
    0x09, 0x83, 0x2c, 0x1a, 0x1b, 0x6e, 0x5a, 0xa0, 0x52, 0x3b, 0xd6, 0xb3, 0x29, 0xe3, 0x2f, 0x84,
    0x53, 0xd1, 0x00, 0xed, 0x20, 0xfc, 0xb1, 0x5b, 0x6a, 0xcb, 0xbe, 0x39, 0x4a, 0x4c, 0x58, 0xcf,
    0xd0, 0xef, 0xaa, 0xfb, 0x43, 0x4d, 0x33, 0x85, 0x45, 0xf9, 0x02, 0x7f, 0x50, 0x3c, 0x9f, 0xa8,
    0x51, 0xa3, 0x40, 0x8f, 0x92, 0x9d, 0x38, 0xf5, 0xbc, 0xb6, 0xda, 0x21, 0x10, 0xff, 0xf3, 0xd2,
    0xcd, 0x0c, 0x13, 0xec, 0x5f, 0x97, 0x44, 0x17, 0xc4, 0xa7, 0x7e, 0x3d, 0x64, 0x5d, 0x19, 0x73,
    0x60, 0x81, 0x4f, 0xdc, 0x22, 0x2a, 0x90, 0x88, 0x46, 0xee, 0xb8, 0x14, 0xde, 0x5e, 0x0b, 0xdb,
    0xe0, 0x32, 0x3a, 0x0a, 0x49, 0x06, 0x24, 0x5c, 0xc2, 0xd3, 0xac, 0x62, 0x91, 0x95, 0xe4, 0x79,
    0xe7, 0xc8, 0x37, 0x6d, 0x8d, 0xd5, 0x4e, 0xa9, 0x6c, 0x56, 0xf4, 0xea, 0x65, 0x7a, 0xae, 0x08,
    0xba, 0x78, 0x25, 0x2e, 0x1c, 0xa6, 0xb4, 0xc6, 0xe8, 0xdd, 0x74, 0x1f, 0x4b, 0xbd, 0x8b, 0x8a,
    0x70, 0x3e, 0xb5, 0x66, 0x48, 0x03, 0xf6, 0x0e, 0x61, 0x35, 0x57, 0xb9, 0x86, 0xc1, 0x1d, 0x9e,
    0xe1, 0xf8, 0x98, 0x11, 0x69, 0xd9, 0x8e, 0x94, 0x9b, 0x1e, 0x87, 0xe9, 0xce, 0x55, 0x28, 0xdf,
    0x8c, 0xa1, 0x89, 0x0d, 0xbf, 0xe6, 0x42, 0x68, 0x41, 0x99, 0x2d, 0x0f, 0xb0, 0x54, 0xbb, 0x16};

// Round constants for key-schedule rows 1..14 (index 0 unused).
constexpr std::uint8_t kRcon[15] = {0x00, 0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40,
                                    0x80, 0x1b, 0x36, 0x6c, 0xd8, 0xab, 0x4d};

// A 256-bit block has 8 columns; rows 1, 2, 3 rotate left by 1, 3 and 4 columns.
constexpr int kColumns = 8;
constexpr int kShift[4] = {0, 1, 3, 4};

struct InverseSbox {
  std::uint8_t table[256];
  constexpr InverseSbox() : table{} {
    for (int i = 0; i < 256; ++i) table[kSbox[i]] = static_cast<std::uint8_t>(i);
  }
};
constexpr InverseSbox kInverse;

constexpr std::uint8_t Times2(std::uint8_t x) {
  return static_cast<std::uint8_t>((x << 1) ^ ((x & 0x80) ? 0x1b : 0x00));
}

constexpr std::uint8_t Multiply(std::uint8_t x, std::uint8_t y) {
  std::uint8_t product = 0;
  while (y != 0) {
    if (y & 1) product ^= x;
    x = Times2(x);
    y >>= 1;
  }
  return product;
}

// State byte n sits at row n % 4, column n / 4.
void AddRoundKey(std::uint8_t* state, const std::uint8_t* roundKey) {
  for (std::size_t i = 0; i < Rijndael256::kBlockSize; ++i) state[i] ^= roundKey[i];
}

void SubBytes(std::uint8_t* state, const std::uint8_t* box) {
  for (std::size_t i = 0; i < Rijndael256::kBlockSize; ++i) state[i] = box[state[i]];
}

void ShiftRows(std::uint8_t* state, bool inverse) {
  for (int row = 1; row < 4; ++row) {
    std::uint8_t line[kColumns];
    for (int c = 0; c < kColumns; ++c) line[c] = state[row + 4 * c];
    for (int c = 0; c < kColumns; ++c) {
      const int from = inverse ? (c - kShift[row] + kColumns) % kColumns : (c + kShift[row]) % kColumns;
      state[row + 4 * c] = line[from];
    }
  }
}

void MixColumns(std::uint8_t* state, bool inverse) {
  const std::uint8_t m0 = inverse ? 0x0e : 0x02, m1 = inverse ? 0x0b : 0x03;
  const std::uint8_t m2 = inverse ? 0x0d : 0x01, m3 = inverse ? 0x09 : 0x01;
  for (int c = 0; c < kColumns; ++c) {
    std::uint8_t* col = state + 4 * c;
    const std::uint8_t a0 = col[0], a1 = col[1], a2 = col[2], a3 = col[3];
    col[0] = Multiply(a0, m0) ^ Multiply(a1, m1) ^ Multiply(a2, m2) ^ Multiply(a3, m3);
    col[1] = Multiply(a0, m3) ^ Multiply(a1, m0) ^ Multiply(a2, m1) ^ Multiply(a3, m2);
    col[2] = Multiply(a0, m2) ^ Multiply(a1, m3) ^ Multiply(a2, m0) ^ Multiply(a3, m1);
    col[3] = Multiply(a0, m1) ^ Multiply(a1, m2) ^ Multiply(a2, m3) ^ Multiply(a3, m0);
  }
}

}  // namespace

bool Rijndael256::SetKey(const std::uint8_t* key, std::size_t size) {
  hasKey_ = false;
  roundKeys_.fill(0);
  if (key == nullptr || size != kKeySize) return false;

  // 120 schedule words of 4 bytes, kept as one byte string; round r uses bytes 32r..32r+31.
  constexpr int kKeyWords = 8;
  constexpr int kWords = static_cast<int>(kBlockSize / 4) * (kRounds + 1);
  for (std::size_t i = 0; i < kKeySize; ++i) roundKeys_[i] = key[i];
  for (int i = kKeyWords; i < kWords; ++i) {
    std::uint8_t word[4];
    for (int j = 0; j < 4; ++j) word[j] = roundKeys_[4 * (i - 1) + j];
    if (i % kKeyWords == 0) {
      const std::uint8_t first = word[0];
      word[0] = static_cast<std::uint8_t>(kSbox[word[1]] ^ kRcon[i / kKeyWords]);
      word[1] = kSbox[word[2]];
      word[2] = kSbox[word[3]];
      word[3] = kSbox[first];
    } else if (i % kKeyWords == 4) {
      for (auto& b : word) b = kSbox[b];
    }
    for (int j = 0; j < 4; ++j) roundKeys_[4 * i + j] = roundKeys_[4 * (i - kKeyWords) + j] ^ word[j];
  }
  hasKey_ = true;
  return true;
}

void Rijndael256::EncryptBlock(std::uint8_t* block) const {
  if (!hasKey_) return;
  AddRoundKey(block, roundKeys_.data());
  for (int round = 1; round <= kRounds; ++round) {
    SubBytes(block, kSbox);
    ShiftRows(block, false);
    if (round != kRounds) MixColumns(block, false);
    AddRoundKey(block, roundKeys_.data() + kBlockSize * round);
  }
}

void Rijndael256::DecryptBlock(std::uint8_t* block) const {
  if (!hasKey_) return;
  for (int round = kRounds; round >= 1; --round) {
    AddRoundKey(block, roundKeys_.data() + kBlockSize * round);
    if (round != kRounds) MixColumns(block, true);
    ShiftRows(block, true);
    SubBytes(block, kInverse.table);
  }
  AddRoundKey(block, roundKeys_.data());
}

}  // namespace kv
