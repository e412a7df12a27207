#include <cstdint>
#include <vector>

#include "Commands.h"
#include "ConsoleOutput.h"
#include "foundation/ResultChain.h"
#include "foundation/TextEncoding.h"
#include "protect/ResourceFile.h"

namespace kv::tool {

namespace {

int Fail(const ResultChain& chain) {
  WriteError(chain.ToText() + L"\n");
  return 1;
}

}  // namespace

int RunConfig(const Arguments& arguments) {
  if (arguments.size() != 1 || arguments[0].empty()) {
    WriteError(L"usage: kvtool config <program.exe>\n");
    return 2;
  }
  ResourceFile file;
  if (ResultChain chain = file.Open(arguments[0]); chain.Failed()) return Fail(KV_MARK(chain));
  std::vector<std::uint8_t> payload;
  if (ResultChain chain = file.ProtectedRead(ResourceFile::kConfigResource, payload); chain.Failed()) {
    return Fail(KV_MARK(chain));
  }
  std::wstring text;
  if (ResultChain chain = DecodeText(payload.data(), payload.size(), text); chain.Failed()) {
    return Fail(KV_MARK(chain));
  }
  WriteOut(text);
  if (!text.empty() && text.back() != L'\n') WriteOut(L"\n");
  return 0;
}

}  // namespace kv::tool
