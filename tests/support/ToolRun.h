// Runs the build's kvtool.exe as a child process with its output captured in files.
#pragma once

#include <windows.h>

#include <string>

namespace kv::test {

struct ToolRun {
  DWORD exitCode = 0xFFFFFFFF;
  std::wstring out;  // standard output, decoded from UTF-8
  std::wstring err;  // standard error, decoded from UTF-8
};

// Runs "kvtool.exe <arguments>" from the build's bin folder (or the kvtool.exe `program`
// names) and waits up to a minute. The output files are written into `folder` under fresh
// names for every run.
ToolRun RunKvtool(const std::wstring& folder, const std::wstring& arguments, const std::wstring& program = {});

}  // namespace kv::test
