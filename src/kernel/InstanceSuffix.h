// The per-installation suffix of the service's named kernel objects.
#pragma once

#include <string>

namespace kv {

// The program file's full path, lower-cased, with every "\" and "/" turned into "_";
// empty when the path cannot be obtained. Two installations in different folders thus
// name their events differently.
std::wstring InstanceSuffix();

// The suffix for a given program path (the rule above, without asking the system).
std::wstring InstanceSuffixFor(const std::wstring& programPath);

}  // namespace kv
