// The definition-set manifest: any bytes are refused with a format failure or give a
// set whose every file name stays inside the destination folder.
#include "DefinitionManifest.h"
#include "FuzzInput.h"
#include "foundation/ErrorCodes.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput input(data, size);
  UseAnsiCodePageOf(input.Byte());
  kv::refengine::DefinitionManifest manifest;
  const kv::ResultChain result = kv::refengine::ParseManifest(input.Rest(), manifest);
  if (result.Failed()) {
    FUZZ_CHECK(result.Contains(kv::err::UncIniInvalidFormat));
    return 0;
  }
  FUZZ_CHECK(!manifest.version.empty());
  FUZZ_CHECK(!manifest.files.empty());
  for (const kv::refengine::ManifestFile& file : manifest.files) {
    FUZZ_CHECK(!file.name.empty() && file.name != L"." && file.name != L"..");
    FUZZ_CHECK(file.name.find_first_of(std::wstring(L"\\/:\0", 4)) == std::wstring::npos);
  }
  return 0;
}
