// kvtool's commands: each takes the arguments after its name and returns the process
// exit code (0 done, 1 failed, 2 wrong arguments). A new command is one function, in a
// source file of its own, and one row in the table (Main.cpp).
#pragma once

#include <string>
#include <vector>

namespace kv::tool {

using Arguments = std::vector<std::wstring>;

struct Command {
  const wchar_t* name;
  const wchar_t* usage;    // arguments, for the help text
  const wchar_t* summary;  // one line
  int (*run)(const Arguments& arguments);
};

// "config <program.exe>": prints the embedded configuration text of a program file.
int RunConfig(const Arguments& arguments);

// "explain [--engine <ScanEngine.dll>] <code|Result text>...": the text form of each code
// of a chain, root cause first, and how to read it (ExplainCommand.cpp).
int RunExplain(const Arguments& arguments);

// "settings <Kestravondal.ini> [<program.exe>]": how the service reads a settings file
// (SettingsCommand.cpp).
int RunSettings(const Arguments& arguments);

// "manifest <folder> <version> [<date>]": writes the reference engine's "defset.ini" for
// the files of a folder, safely (ManifestCommand.cpp).
int RunManifest(const Arguments& arguments);

// "status [--json | --prometheus | --prometheus-file <file.prom>] [--max-age-days <days>]
// [<program.exe>]": the service's state, the installed definitions and the last and next
// update, with a monitoring plugin's exit code (StatusCommand.cpp).
int RunStatus(const Arguments& arguments);

// "keygen <private-key-file>": a signing key pair for definition sets; prints the public
// key for the engine's settings (SigningCommands.cpp).
int RunKeygen(const Arguments& arguments);

// "sign [--previous <manifest>] <folder> <private-key-file>": writes "defset.sig" for
// the folder's manifest, unless its version orders before the previous manifest's
// (SigningCommands.cpp).
int RunSign(const Arguments& arguments);

}  // namespace kv::tool
