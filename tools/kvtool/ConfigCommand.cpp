#include "Commands.h"
#include "ConsoleOutput.h"
#include "ToolSupport.h"

namespace kv::tool {

int RunConfig(const Arguments& arguments) {
  if (arguments.size() != 1 || arguments[0].empty()) {
    WriteError(L"usage: kvtool config <program.exe>\n");
    return 2;
  }
  std::wstring text;
  if (ResultChain chain = ReadProgramConfig(arguments[0], text); chain.Failed()) return Fail(KV_MARK(chain));
  WriteOut(text);
  if (!text.empty() && text.back() != L'\n') WriteOut(L"\n");
  return 0;
}

}  // namespace kv::tool
