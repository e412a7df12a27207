// What "kvtool status" asks the service control manager about the service, and the
// version of the program it is registered with.
#pragma once

#include <string>

namespace kv::tool {

struct ServiceFacts {
  bool known = false;  // the service control manager answered
  bool installed = false;
  bool running = false;
  std::wstring state = L"unknown";
  std::wstring program;  // the registered program file
  std::wstring failure;  // why the service control manager could not answer
};

ServiceFacts AskServiceManager();

// "major.minor.patch" of a program's version resource; empty without one.
std::wstring ProgramVersion(const std::wstring& program);

}  // namespace kv::tool
