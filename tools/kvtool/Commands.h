// kvtool's commands: each takes the arguments after its name and returns the process
// exit code. A new command is one function and one row in the table (Main.cpp).
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

}  // namespace kv::tool
