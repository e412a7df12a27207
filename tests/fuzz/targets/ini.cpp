// The INI reader and writer: any bytes parse; the writer's text reads back to the same
// values, as wide text and as a UTF-16 file, and writes itself again unchanged.
#include "FuzzInput.h"
#include "config/IniDocument.h"

namespace {

std::size_t NonEmptyValues(const kv::IniDocument& document) {
  std::size_t count = 0;
  for (const kv::IniSection& section : document.Sections()) {
    for (const auto& entry : section.GetEntries()) count += entry.second.empty() ? 0 : 1;
  }
  return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput input(data, size);
  UseAnsiCodePageOf(input.Byte());
  kv::IniDocument read;
  const kv::ResultChain parsed = read.ParseBytes(input.Rest());
  FUZZ_CHECK(read.DefaultSection() == L"Setting");
  if (parsed.Failed()) {
    FUZZ_CHECK(read.Sections().empty());
    return 0;
  }

  const std::wstring written = read.ToText();
  kv::IniDocument reread(written);
  std::size_t values = 0;
  for (const kv::IniSection& section : read.Sections()) {
    // A section without a name is never written.
    if (section.Name().empty()) continue;
    for (const auto& [key, value] : section.GetEntries()) {
      if (value.empty()) continue;
      ++values;
      FUZZ_CHECK(reread.GetString(key, L"", section.Name()) == value);
    }
  }
  FUZZ_CHECK(NonEmptyValues(reread) == values);
  const std::wstring rewritten = reread.ToText();
  FUZZ_CHECK(kv::IniDocument(rewritten).ToText() == rewritten);

  if (!written.empty()) {
    kv::IniDocument fromFile;
    FUZZ_CHECK(!fromFile.ParseBytes("\xFF\xFE" + Utf16LeBytes(written)).Failed());
    FUZZ_CHECK(fromFile.ToText() == rewritten);
  }
  return 0;
}
