// kvtool: the administrator's tool for Kestravondalsc program files.
//   kvtool <command> [arguments...]
#include <windows.h>

#include <cwchar>

#include "Commands.h"
#include "ConsoleOutput.h"

namespace kv::tool {

namespace {

constexpr Command kCommands[] = {
    {L"config", L"<program.exe>", L"prints the embedded configuration of a program built with this tool's key",
     RunConfig},
    {L"explain", L"[--engine <ScanEngine.dll>] <hex code>... | \"<Result text>\"",
     L"prints the text of each code of a logged Result, root cause first, and how to read it", RunExplain},
    {L"settings", L"<Kestravondal.ini> [<program.exe>]",
     L"shows how the service reads a settings file: its text, the engine's values and the next update", RunSettings},
    {L"manifest", L"[--previous <set folder>]... <folder> <version> [<date>]",
     L"writes the reference engine's defset.ini for the files of a folder, last and by rename", RunManifest},
    {L"status", L"[--json | --prometheus | --prometheus-file <file.prom>] [--max-age-days <days>] [<program.exe>]",
     L"is this machine protected: service, definitions, last and next update; a monitoring plugin's line, "
     L"performance data and exit code, or Prometheus text",
     RunStatus},
    {L"keygen", L"<private-key-file>",
     L"makes a signing key pair for definition sets and prints the public key for the settings", RunKeygen},
    {L"sign", L"[--previous <manifest>] <folder> <private-key-file>",
     L"writes defset.sig for the folder's defset.ini, last and by rename", RunSign},
};

int Usage() {
  std::wstring text = L"usage: kvtool <command> [arguments]\ncommands:\n";
  for (const Command& command : kCommands) {
    text += L"  ";
    text += command.name;
    text += L" ";
    text += command.usage;
    text += L"\n      ";
    text += command.summary;
    text += L"\n";
  }
  WriteError(text);
  return 2;
}

}  // namespace

int Run(int argc, wchar_t** argv) {
  if (argc < 2) return Usage();
  for (const Command& command : kCommands) {
    if (std::wcscmp(argv[1], command.name) == 0) return command.run(Arguments(argv + 2, argv + argc));
  }
  return Usage();
}

}  // namespace kv::tool

int wmain(int argc, wchar_t** argv) {
  // Run from Downloads, or by a monitoring agent as SYSTEM, no library lying beside the
  // tool or in the current folder may stand in for a system one.
  ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  return kv::tool::Run(argc, argv);
}
