// The built-in configuration the build sealed into the service, as the build copies its
// text beside the program ("builtin-config.ini").
#pragma once

#include <string>

namespace kv::test {

// The service program in the test's folder.
std::wstring ServiceProgramFile();

// The sealed text, decoded as the service decodes it.
std::wstring BuiltinConfigText();

}  // namespace kv::test
