// kvseal: the build's sealing step, run on the build machine (host compiler, portable
// C++ only). Turns a plain INI text into the two protected resources of the program.
//
//   kvseal <secret-file> <config-file> <resource1-out> <resource4096-out>
//
// The secret file holds the build's 32-byte secret as 64 hexadecimal digits (white
// space ignored). Output depends only on the secret and the text, so builds repeat.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "protect/ContainerSeal.h"

namespace {

bool ReadWholeFile(const char* path, kv::ByteString& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool WriteWholeFile(const char* path, const kv::ByteString& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out.flush());
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseSecret(const kv::ByteString& text, kv::Digest256& secret) {
  std::size_t digits = 0;
  for (const std::uint8_t c : text) {
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
    const int value = HexValue(static_cast<char>(c));
    if (value < 0 || digits >= 2 * secret.size()) return false;
    std::uint8_t& byte = secret[digits / 2];
    byte = static_cast<std::uint8_t>(digits % 2 == 0 ? value << 4 : byte | value);
    ++digits;
  }
  return digits == 2 * secret.size();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: kvseal <secret-file> <config-file> <resource1-out> <resource4096-out>\n");
    return 2;
  }
  kv::ByteString secretText;
  kv::Digest256 secret{};
  if (!ReadWholeFile(argv[1], secretText) || !ParseSecret(secretText, secret)) {
    std::fprintf(stderr, "kvseal: %s must hold exactly 64 hexadecimal digits\n", argv[1]);
    return 1;
  }
  kv::ByteString config;
  if (!ReadWholeFile(argv[2], config)) {
    std::fprintf(stderr, "kvseal: cannot read %s\n", argv[2]);
    return 1;
  }
  // An empty text would open as "no configuration" at run time; refuse it here instead.
  if (config.empty()) {
    std::fprintf(stderr, "kvseal: %s is empty\n", argv[2]);
    return 1;
  }
  const kv::SealedConfiguration sealed = kv::SealConfiguration(secret, config);
  if (!WriteWholeFile(argv[3], sealed.keyResource) || !WriteWholeFile(argv[4], sealed.configResource)) {
    std::fprintf(stderr, "kvseal: cannot write the sealed resources\n");
    return 1;
  }
  return 0;
}
