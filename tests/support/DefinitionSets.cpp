#include "support/DefinitionSets.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "defset/ChunkIndex.h"
#include "defset/DefinitionManifest.h"
#include "defset/PackWriter.h"
#include "defset/SetSignature.h"
#include "foundation/TextEncoding.h"
#include "protect/Sha256.h"
#include "support/WinTestUtil.h"

namespace kv::test {

namespace {

std::string HexDigest(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (std::uint8_t b : Sha256::Of(bytes.data(), bytes.size())) {
    hex += kDigits[b >> 4];
    hex += kDigits[b & 15];
  }
  return hex;
}

}  // namespace

std::string Pattern(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 31 + seed * 7 + i / 251) & 0xFF);
  return bytes;
}

std::string Noise(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  std::uint64_t state = 0x9E3779B97F4A7C15ull * (seed + 1);
  for (char& c : bytes) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    c = static_cast<char>(state >> 56);
  }
  return bytes;
}

std::string FileLine(const std::wstring& name, const std::string& bytes) {
  // The manifest is UTF-8 (it starts with the mark).
  std::string utf8;
  EXPECT_FALSE(WideToNarrow(name, CP_UTF8, 0, utf8).Failed());
  return utf8 + "=" + std::to_string(bytes.size()) + "," + HexDigest(bytes) + "\r\n";
}

void Publish(const std::wstring& folder, const DefinitionSet& set, const std::string& extraLines) {
  // The folder and any missing parents.
  for (std::size_t at = folder.find(L'\\', 3); at != std::wstring::npos; at = folder.find(L'\\', at + 1)) {
    ::CreateDirectoryW(folder.substr(0, at).c_str(), nullptr);
  }
  ::CreateDirectoryW(folder.c_str(), nullptr);
  std::string manifest = "\xEF\xBB\xBF[DefinitionSet]\r\nVersion=" + Narrow(set.version) +
                         "\r\nDate=" + Narrow(set.date) + "\r\n[Files]\r\n";
  for (const SetFile& file : set.files) {
    ASSERT_TRUE(WriteFileBytes(folder + L"\\" + file.name, file.bytes));
    manifest += FileLine(file.name, file.bytes);
  }
  if (set.indexed) {
    ::CreateDirectoryW((folder + L"\\defset.chunks").c_str(), nullptr);
    manifest += "[Indexes]\r\n";
    for (const SetFile& file : set.files) {
      if (file.bytes.empty()) continue;
      const std::string index = refengine::ChunkIndexBytes(refengine::CutChunks(file.bytes), file.bytes.size());
      ASSERT_TRUE(WriteFileBytes(folder + L"\\defset.chunks\\" + file.name, index));
      manifest += FileLine(file.name, index);
    }
  }
  const std::wstring path = folder + L"\\defset.ini";
  ASSERT_TRUE(WriteFileBytes(path, manifest + extraLines));
  // Each manifest gets a time of its own, a minute after the previous one: a web server
  // whose validators are made of time and size (nginx) must never take a new manifest
  // written within the same second for the old one.
  static ULONGLONG minutes = 0;
  const ULONGLONG ticks = 133800000000000000ULL + ++minutes * 60ULL * 10000000ULL;  // from 2025
  const FILETIME stamp{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  HANDLE file = ::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  ::SetFileTime(file, nullptr, nullptr, &stamp);
  ::CloseHandle(file);
}

std::string PublishPackedObjects(const std::wstring& folder, const DefinitionSet& set, const DefinitionSet* earlier) {
  ::CreateDirectoryW(folder.c_str(), nullptr);
  ::CreateDirectoryW((folder + L"\\defset.z").c_str(), nullptr);
  ::CreateDirectoryW((folder + L"\\defset.patches").c_str(), nullptr);
  std::string compressed = "[Compressed]\r\n";
  std::string patches = "[Patches]\r\n";
  for (const SetFile& file : set.files) {
    if (file.bytes.empty()) continue;
    std::string frame;
    EXPECT_FALSE(refengine::CompressWhole(file.bytes, frame).Failed());
    if (!frame.empty()) {
      EXPECT_TRUE(WriteFileBytes(folder + L"\\defset.z\\" + file.name, frame));
      compressed += FileLine(file.name, frame);
    }
    if (earlier == nullptr) continue;
    for (const SetFile& before : earlier->files) {
      if (before.name != file.name || before.bytes == file.bytes || before.bytes.empty()) continue;
      EXPECT_FALSE(refengine::MakePatch(before.bytes, file.bytes, frame).Failed());
      const Digest256 source = Sha256::Of(before.bytes.data(), before.bytes.size());
      EXPECT_TRUE(WriteFileBytes(
          folder + L"\\defset.patches\\" +
              refengine::PatchName(source, Sha256::Of(file.bytes.data(), file.bytes.size())),
          frame));
      patches += FileLine(file.name + L"," + refengine::DigestHex(source), frame);
    }
  }
  return compressed + patches;
}

const SigningKey& TestKey() {
  static const SigningKey key = [] {
    SigningKey made;
    std::string publicBlob;
    EXPECT_FALSE(refengine::GenerateSigningKey(made.privateBlob, publicBlob).Failed());
    const std::string text = refengine::ToBase64(publicBlob);
    made.publicKey.assign(text.begin(), text.end());
    return made;
  }();
  return key;
}

std::string TestKeyLine() {
  const std::wstring& key = TestKey().publicKey;
  return "PublicKey=" + std::string(key.begin(), key.end()) + "\r\n";
}

void SignSet(const std::wstring& folder, const SigningKey& key) {
  std::string signature;
  ASSERT_FALSE(refengine::SignManifest(key.privateBlob, ReadFileBytes(folder + L"\\defset.ini"), signature).Failed());
  ASSERT_TRUE(WriteFileBytes(folder + L"\\defset.sig", signature + "\r\n"));
}

void PublishSigned(const std::wstring& folder, const DefinitionSet& set, const SigningKey& key,
                   const std::string& extraLines) {
  Publish(folder, set, extraLines);
  SignSet(folder, key);
}

}  // namespace kv::test
