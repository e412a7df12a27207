#include "support/DefinitionSets.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "foundation/TextEncoding.h"
#include "protect/Sha256.h"
#include "support/WinTestUtil.h"

namespace kv::test {

namespace {

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

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

std::string FileLine(const std::wstring& name, const std::string& bytes) {
  // The manifest is UTF-8 (it starts with the mark).
  std::string utf8;
  EXPECT_FALSE(WideToNarrow(name, CP_UTF8, 0, utf8).Failed());
  return utf8 + "=" + std::to_string(bytes.size()) + "," + HexDigest(bytes) + "\r\n";
}

void Publish(const std::wstring& folder, const DefinitionSet& set, const std::string& extraLines) {
  ::CreateDirectoryW(folder.c_str(), nullptr);
  std::string manifest = "\xEF\xBB\xBF[DefinitionSet]\r\nVersion=" + Narrow(set.version) +
                         "\r\nDate=" + Narrow(set.date) + "\r\n[Files]\r\n";
  for (const SetFile& file : set.files) {
    ASSERT_TRUE(WriteFileBytes(folder + L"\\" + file.name, file.bytes));
    manifest += FileLine(file.name, file.bytes);
  }
  ASSERT_TRUE(WriteFileBytes(folder + L"\\defset.ini", manifest + extraLines));
}

}  // namespace kv::test
