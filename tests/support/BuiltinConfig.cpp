#include "support/BuiltinConfig.h"

#include <gtest/gtest.h>

#include "foundation/TextEncoding.h"
#include "support/WinTestUtil.h"

namespace kv::test {

std::wstring ServiceProgramFile() { return ProgramFolder() + L"\\Kestravondalsc.exe"; }

std::wstring BuiltinConfigText() {
  const std::string bytes = ReadFileBytes(ProgramFolder() + L"\\builtin-config.ini");
  std::wstring text;
  EXPECT_FALSE(DecodeText(bytes, text).Failed());
  return text;
}

}  // namespace kv::test
